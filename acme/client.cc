// The certificate protocol over libcurl, its JSON read with nlohmann::json.
#include "acme/client.h"

#include <curl/curl.h>
#include <openssl/sha.h>

#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "platform/text.h"
#include "platform/version.h"

namespace acme {

using nlohmann::json;

namespace {

// No answer of the protocol is anywhere near this; a larger one is not read on.
constexpr std::size_t kMaxAnswerSize = 1024 * 1024;
// A stale nonce is retried at once this many times; a rate limit or a busy authority is
// waited for at most kMaxBusyWaits times.
constexpr int kNonceRetries = 5;
constexpr int kMaxBusyWaits = 4;
// A wait the authority asks for is cut to this, so that a stop is never held up for long.
constexpr long kMaxWaitMs = 60 * 1000;
// How many times an authorization or an order is looked at before giving up.
constexpr int kMaxPolls = 60;

constexpr std::string_view kProblemPrefix = "urn:ietf:params:acme:error:";

// libcurl's global state is set up once, before any thread uses it.
void InitCurl() {
    static const bool done = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
    (void)done;
}

// The authority's problem document, as one line: its type and its detail, with the
// subproblems of the names that failed.
std::string ProblemText(const json& problem) {
    if (!problem.is_object()) return "";
    std::string text = problem.value("type", std::string("no problem type"));
    if (std::string detail = problem.value("detail", std::string()); !detail.empty()) {
        text += ": " + detail;
    }
    if (auto sub = problem.find("subproblems"); sub != problem.end() && sub->is_array()) {
        for (const json& one : *sub) text += "; " + ProblemText(one);
    }
    return text;
}

std::string ProblemType(const json& problem) {
    return problem.is_object() ? problem.value("type", std::string()) : std::string();
}

json ParseJson(const std::string& text) { return json::parse(text, nullptr, false); }

}  // namespace

struct Client::Answer {
    long status = 0;
    std::string body;
    std::map<std::string, std::string> headers;  // names in small letters, the last of each
    std::string Header(const std::string& name) const {
        auto found = headers.find(name);
        return found == headers.end() ? std::string() : found->second;
    }
    json Json() const { return ParseJson(body); }
};

namespace {

size_t TakeBody(char* data, size_t size, size_t count, void* user) {
    auto* answer = static_cast<std::string*>(user);
    const size_t bytes = size * count;
    if (answer->size() + bytes > kMaxAnswerSize) return 0;  // ends the transfer with an error
    answer->append(data, bytes);
    return bytes;
}

// Ends a transfer under way as soon as the keeper is stopped.
int CheckStop(void* stop, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(stop)->load() ? 1 : 0;
}

size_t TakeHeader(char* data, size_t size, size_t count, void* user) {
    auto* headers = static_cast<std::map<std::string, std::string>*>(user);
    std::string_view line(data, size * count);
    // A new status line (after a redirect or a 100) starts a new set of headers.
    if (line.starts_with("HTTP/")) headers->clear();
    size_t colon = line.find(':');
    if (colon != std::string_view::npos) {
        std::string value(platform::Trim(line.substr(colon + 1)));
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
        (*headers)[platform::LowerCopy(platform::Trim(line.substr(0, colon)))] = value;
    }
    return size * count;
}

}  // namespace

Client::Client(ClientOptions options, const EcKey& accountKey, ChallengeResponder& responder,
               const std::atomic<bool>& stop)
    : options_(std::move(options)), accountKey_(accountKey), responder_(responder), stop_(stop) {
    InitCurl();
    curl_ = curl_easy_init();
}

Client::~Client() {
    if (curl_ != nullptr) curl_easy_cleanup(static_cast<CURL*>(curl_));
}

bool Client::Fetch(const std::string& method, const std::string& url, const std::string& body,
                   const std::string& accept, Answer* answer, std::string* error) {
    CURL* curl = static_cast<CURL*>(curl_);
    if (curl == nullptr) {
        *error = "can't set up an HTTP client";
        return false;
    }
    *answer = Answer();
    curl_easy_reset(curl);
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, ("Accept: " + accept).c_str());
    if (method == "POST")
        headers = curl_slist_append(headers, "Content-Type: application/jose+json");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https,http");
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Vantry/" VANTRY_VERSION);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 15L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    if (!options_.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, options_.caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, TakeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer->body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, TakeHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &answer->headers);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, CheckStop);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(&stop_));
    if (method == "HEAD") {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    }
    CURLcode result = curl_easy_perform(curl);
    curl_slist_free_all(headers);
    if (result != CURLE_OK) {
        *error = std::string("can't reach ") + url + ": " + curl_easy_strerror(result);
        return false;
    }
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer->status);
    if (std::string nonce = answer->Header("replay-nonce"); !nonce.empty()) nonce_ = nonce;
    return true;
}

bool Client::Pause(long defaultMs, const Answer& answer) {
    long waitMs = defaultMs;
    if (std::string after = answer.Header("retry-after"); !after.empty()) {
        long seconds = std::strtol(after.c_str(), nullptr, 10);
        if (seconds > 0) waitMs = seconds * 1000;
    }
    waitMs = std::min(waitMs, kMaxWaitMs);
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (std::chrono::steady_clock::now() < until) {
        if (stop_.load()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return !stop_.load();
}

bool Client::SignedPost(const std::string& step, const std::string& url, const std::string& payload,
                        Answer* answer, Failure* failure) {
    int nonceRetries = 0;
    int busyWaits = 0;
    std::string error;
    for (;;) {
        if (stop_.load()) {
            *failure = {step, "stopped"};
            return false;
        }
        if (nonce_.empty()) {
            Answer fresh;
            if (!Fetch("HEAD", newNonceUrl_, "", "*/*", &fresh, &error) || nonce_.empty()) {
                *failure = {"new nonce", error.empty() ? "the authority sent no nonce" : error};
                return false;
            }
        }
        json header = {{"alg", "ES256"}, {"nonce", nonce_}, {"url", url}};
        if (accountUrl_.empty()) {
            header["jwk"] = json::parse(accountKey_.Jwk());
        } else {
            header["kid"] = accountUrl_;
        }
        nonce_.clear();
        std::optional<std::string> signedBody = accountKey_.Sign(header.dump(), payload);
        if (!signedBody) {
            *failure = {step, "can't sign the request"};
            return false;
        }
        const bool chain = step == "certificate download";
        if (!Fetch("POST", url, *signedBody,
                   chain ? "application/pem-certificate-chain" : "application/json", answer,
                   &error)) {
            *failure = {step, error};
            return false;
        }
        if (answer->status < 400) return true;
        const json problem = answer->Json();
        const std::string type = ProblemType(problem);
        if (type == std::string(kProblemPrefix) + "badNonce" && ++nonceRetries <= kNonceRetries) {
            continue;
        }
        if ((type == std::string(kProblemPrefix) + "rateLimited" || answer->status == 503) &&
            ++busyWaits <= kMaxBusyWaits) {
            if (!Pause(1000L << busyWaits, *answer)) {
                *failure = {step, "stopped"};
                return false;
            }
            continue;
        }
        std::string text = ProblemText(problem);
        *failure = {step, (text.empty() ? "" : text + " ") + "(HTTP " +
                              std::to_string(answer->status) + ")"};
        return false;
    }
}

bool Client::LoadDirectory(Failure* failure) {
    Answer answer;
    std::string error;
    if (!Fetch("GET", options_.directoryUrl, "", "application/json", &answer, &error)) {
        *failure = {"directory", error};
        return false;
    }
    const json directory = answer.Json();
    if (answer.status != 200 || !directory.is_object()) {
        *failure = {"directory", options_.directoryUrl + " is no ACME directory (HTTP " +
                                     std::to_string(answer.status) + ")"};
        return false;
    }
    newNonceUrl_ = directory.value("newNonce", std::string());
    newAccountUrl_ = directory.value("newAccount", std::string());
    newOrderUrl_ = directory.value("newOrder", std::string());
    if (newNonceUrl_.empty() || newAccountUrl_.empty() || newOrderUrl_.empty()) {
        *failure = {"directory",
                    options_.directoryUrl + " names no newNonce, newAccount or newOrder"};
        return false;
    }
    return true;
}

bool Client::Register(Failure* failure) {
    json request = {{"termsOfServiceAgreed", true}};
    if (!options_.email.empty()) request["contact"] = json::array({"mailto:" + options_.email});
    Answer answer;
    if (!SignedPost("new account", newAccountUrl_, request.dump(), &answer, failure)) return false;
    accountUrl_ = answer.Header("location");
    if (accountUrl_.empty()) {
        *failure = {"new account", "the authority named no account"};
        return false;
    }
    return true;
}

bool Client::Authorize(const std::string& authorizationUrl, Failure* failure) {
    Answer answer;
    if (!SignedPost("authorization", authorizationUrl, "", &answer, failure)) return false;
    json authorization = answer.Json();
    const std::string name = authorization.is_object() && authorization.contains("identifier")
                                 ? authorization["identifier"].value("value", std::string())
                                 : std::string();
    const std::string step = "authorization of " + name;
    if (authorization.value("status", std::string()) == "valid") return true;
    const std::string type = options_.tlsAlpn ? "tls-alpn-01" : "http-01";
    const json* challenge = nullptr;
    if (auto list = authorization.find("challenges");
        list != authorization.end() && list->is_array()) {
        for (const json& one : *list) {
            if (one.is_object() && one.value("type", std::string()) == type) challenge = &one;
        }
    }
    if (challenge == nullptr) {
        *failure = {step, "the authority offers no " + type + " challenge"};
        return false;
    }
    const std::string token = challenge->value("token", std::string());
    const std::string challengeUrl = challenge->value("url", std::string());
    // A token is Base64Url text; anything else would not be a path segment of its own.
    if (token.empty() || token.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstu"
                                                 "vwxyz0123456789-_") != std::string::npos) {
        *failure = {step, "the authority sent an unusable token"};
        return false;
    }
    const std::string keyAuthorization = token + "." + accountKey_.Thumbprint();
    bool answered;
    if (options_.tlsAlpn) {
        unsigned char digest[SHA256_DIGEST_LENGTH];
        SHA256(reinterpret_cast<const unsigned char*>(keyAuthorization.data()),
               keyAuthorization.size(), digest);
        answered = responder_.AnswerTlsAlpn(
            name, std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
    } else {
        answered = responder_.AnswerHttp(token, keyAuthorization);
    }
    if (!answered) {
        *failure = {step, "the server could not put up the challenge's answer"};
        return false;
    }
    if (!SignedPost(step, challengeUrl, "{}", &answer, failure)) return false;
    for (int poll = 0; poll < kMaxPolls; ++poll) {
        if (!Pause(1000, answer)) {
            *failure = {step, "stopped"};
            return false;
        }
        if (!SignedPost(step, authorizationUrl, "", &answer, failure)) return false;
        authorization = answer.Json();
        const std::string status = authorization.value("status", std::string());
        if (status == "valid") return true;
        if (status != "pending") {
            std::string why;
            if (auto list = authorization.find("challenges");
                list != authorization.end() && list->is_array()) {
                for (const json& one : *list) {
                    if (one.is_object() && one.contains("error")) why = ProblemText(one["error"]);
                }
            }
            *failure = {step,
                        "the authority found the name " + status + (why.empty() ? "" : ": " + why)};
            return false;
        }
    }
    *failure = {step, "the authority did not decide in time"};
    return false;
}

std::optional<Issued> Client::Obtain(const std::vector<std::string>& names,
                                     const EcKey& certificateKey, Failure* failure) {
    // A member of the wrong type throws; the authority's answer is then no answer.
    try {
        return ObtainSteps(names, certificateKey, failure);
    } catch (const json::exception& error) {
        *failure = {
            failure->step.empty() ? "reading an answer" : failure->step,
            std::string("the authority's answer is not what the protocol says: ") + error.what()};
        return std::nullopt;
    }
}

std::optional<Issued> Client::ObtainSteps(const std::vector<std::string>& names,
                                          const EcKey& certificateKey, Failure* failure) {
    if (!LoadDirectory(failure) || !Register(failure)) return std::nullopt;
    json identifiers = json::array();
    for (const std::string& name : names) identifiers.push_back({{"type", "dns"}, {"value", name}});
    Answer answer;
    if (!SignedPost("new order", newOrderUrl_, json{{"identifiers", identifiers}}.dump(), &answer,
                    failure)) {
        return std::nullopt;
    }
    const std::string orderUrl = answer.Header("location");
    json order = answer.Json();
    if (orderUrl.empty() || !order.is_object()) {
        *failure = {"new order", "the authority sent no order"};
        return std::nullopt;
    }
    if (auto list = order.find("authorizations"); list != order.end() && list->is_array()) {
        for (const json& url : *list) {
            if (!url.is_string() || !Authorize(url.get<std::string>(), failure))
                return std::nullopt;
        }
    }
    std::optional<std::string> request = certificateKey.SigningRequest(names);
    if (!request) {
        *failure = {"finalize", "can't make the signing request"};
        return std::nullopt;
    }
    if (!SignedPost("finalize", order.value("finalize", std::string()),
                    json{{"csr", *request}}.dump(), &answer, failure)) {
        return std::nullopt;
    }
    order = answer.Json();
    for (int poll = 0;
         poll < kMaxPolls && order.is_object() && order.value("status", std::string()) != "valid";
         ++poll) {
        const std::string status = order.value("status", std::string());
        if (status != "processing" && status != "ready" && status != "pending") {
            std::string why = order.contains("error") ? ": " + ProblemText(order["error"]) : "";
            *failure = {"finalize", "the order is " + status + why};
            return std::nullopt;
        }
        if (!Pause(1000, answer) || !SignedPost("order", orderUrl, "", &answer, failure)) {
            if (failure->step.empty()) *failure = {"finalize", "stopped"};
            return std::nullopt;
        }
        order = answer.Json();
    }
    const std::string certificateUrl =
        order.is_object() ? order.value("certificate", std::string()) : std::string();
    if (certificateUrl.empty()) {
        *failure = {"finalize", "the authority issued no certificate in time"};
        return std::nullopt;
    }
    if (!SignedPost("certificate download", certificateUrl, "", &answer, failure)) {
        return std::nullopt;
    }
    if (!ReadCertificateDates(answer.body)) {
        *failure = {"certificate download", "the authority sent no PEM certificate"};
        return std::nullopt;
    }
    return Issued{answer.body};
}

}  // namespace acme
