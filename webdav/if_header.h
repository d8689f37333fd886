// The WebDAV "If" header: lists of conditions on lock tokens and entity tags, each list for
// the request's resource or for the resource its tag names.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace webdav {

struct IfCondition {
    bool negated = false;
    bool isToken = false;  // a state token (a lock's, or another URI); otherwise an entity tag
    std::string value;     // the token without its angle brackets, or the tag with its quotes
};

struct IfList {
    std::optional<std::string> resource;  // the tag's URI as written, when the list has one
    std::vector<IfCondition> conditions;
};

struct IfHeader {
    std::vector<IfList> lists;
    // Every state token the header names: the lock tokens the client submits.
    std::vector<std::string> Tokens() const;
};

// std::nullopt when the value does not follow the header's grammar.
std::optional<IfHeader> ParseIfHeader(std::string_view value);

// What a condition is checked against: the resource's entity tag (empty when it does not
// exist) and whether a lock of the given token covers it.
struct IfResourceState {
    std::string entityTag;
    std::function<bool(std::string_view token)> lockedBy;
};

// True when some list holds. A list holds when each of its conditions does; `stateOf` gives
// the state of the resource a list is about (nullptr for the request's own: a tagged list
// whose resource lies outside what `stateOf` knows holds never).
bool IfHeaderHolds(
    const IfHeader& header,
    const std::function<std::optional<IfResourceState>(const std::optional<std::string>& resource)>&
        stateOf);

}  // namespace webdav
