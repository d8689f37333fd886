// The HTTP-01 challenges this process is waiting on: the tokens a certificate authority was
// given and the key authorization each must be answered with. The certificate keeper posts a
// token before it tells the authority to look and takes it down when the authority is done;
// the servers answer GET /.well-known/acme-challenge/TOKEN from here and nothing else.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace acme {

inline constexpr std::string_view kChallengePrefix = "/.well-known/acme-challenge/";

class ChallengeBoard {
  public:
    // The board of the process: the keepers post on it, every connection reads it.
    static ChallengeBoard& Shared();

    void Post(const std::string& token, const std::string& keyAuthorization);
    void Remove(const std::string& token);
    // The key authorization of `token`, when this process waits for that token.
    std::optional<std::string> Answer(std::string_view token) const;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string, std::less<>> answers_;
};

// Takes a board's token down when it goes out of scope, whatever way the attempt ends.
class PostedChallenge {
  public:
    PostedChallenge(ChallengeBoard& board, std::string token, const std::string& keyAuthorization)
        : board_(board), token_(std::move(token)) {
        board_.Post(token_, keyAuthorization);
    }
    ~PostedChallenge() { board_.Remove(token_); }
    PostedChallenge(const PostedChallenge&) = delete;
    PostedChallenge& operator=(const PostedChallenge&) = delete;

  private:
    ChallengeBoard& board_;
    std::string token_;
};

}  // namespace acme
