// The challenges this process waits on.
#include "acme/challenges.h"

namespace acme {

ChallengeBoard& ChallengeBoard::Shared() {
    static auto* board = new ChallengeBoard;
    return *board;
}

void ChallengeBoard::Post(const std::string& token, const std::string& keyAuthorization) {
    std::lock_guard lock(mutex_);
    answers_[token] = keyAuthorization;
}

void ChallengeBoard::Remove(const std::string& token) {
    std::lock_guard lock(mutex_);
    answers_.erase(token);
}

std::optional<std::string> ChallengeBoard::Answer(std::string_view token) const {
    std::lock_guard lock(mutex_);
    auto found = answers_.find(token);
    if (found == answers_.end()) return std::nullopt;
    return found->second;
}

}  // namespace acme
