// A folder of the site answered as a ZIP archive: the modern listing's "Download as zip" and
// "Download ticked as zip".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace site {

// True when the query of `target` (the request's target as sent) has a "zip" parameter
// ("?zip", "?zip=all", "?n=a&zip=ticked").
bool AsksForZip(std::string_view target);
// The values of the "n" parameters of the query of `target`, decoded: the entries ticked in
// the listing's form.
std::vector<std::string> TickedNames(std::string_view target);
// The Content-Disposition line (without CR LF) of the archive of the folder named
// `folderName`: a plain-ASCII filename for every client and the UTF-8 one as filename*.
std::string ZipDisposition(std::string_view folderName);

}  // namespace site
