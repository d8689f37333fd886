// Entity tags in the conditions of a request (If-Match, If-None-Match, If-Range): whether a
// condition names the tag of what the server holds.
#pragma once

#include <string_view>

namespace http {

// Whether `headerValue`, the value of one If-Match or If-None-Match line, names `tag`.
// The value is "*", which names every tag, or a comma-separated list of entity tags, each
// "opaque" or W/"opaque" (empty entries and blanks around them allowed); `tag` is one entity
// tag as an ETag line carries it, quotes included.
// Strong comparison (`weakComparison` false, for If-Match and If-Range): both tags strong
// and their opaque parts equal. Weak comparison (for If-None-Match): the opaque parts equal,
// W/ or not.
// A value that is no such list (an unterminated quote, a word that is no tag, "*" among
// tags) names nothing, and neither does a `tag` that is no entity tag. The value is read
// once from start to end, whatever its length.
bool EntityTagListMatches(std::string_view headerValue, std::string_view tag, bool weakComparison);

// Whether `value`, blanks around it aside, is one entity tag: If-Range holds either one or
// a date.
bool IsEntityTag(std::string_view value);

}  // namespace http
