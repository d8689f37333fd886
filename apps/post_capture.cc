// File upload and form capture: the upload form, and the capture of a posted body (with the
// request's header lines and variables for the raw and plus-headers forms) into files named
// after the time of the submission.
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "apps/application_pages.h"
#include "apps/stored_text.h"
#include "apps/upload_store.h"
#include "config/server_config.h"
#include "pages/page_template.h"
#include "platform/pending_file.h"
#include "platform/socket.h"
#include "platform/text.h"
#include "platform/version.h"

namespace apps {
namespace {

constexpr std::string_view kCapturePage = "HandlePost";
constexpr std::string_view kCaptureTitle = "Data Received";
constexpr std::string_view kUploadPage = "FileUpload";
// The modern look's titles of the page after a post.
constexpr std::string_view kUploadReceivedTitle = "File received";
constexpr std::string_view kUploadsReceivedTitle = "Files received";
constexpr std::string_view kUploadFailedTitle = "Upload failed";
constexpr std::string_view kFormReceivedTitle = "Form received";

// The declared size is read from at most this many characters of the header's value, less one.
constexpr size_t kContentLengthCapacity = 32;
// The limits are kept in units of 1000 bytes.
constexpr int64_t kBytesPerKB = 1000;
constexpr uint64_t kBytesPerMB = 1000 * 1000;
// A body is written in pieces of this size; what a submission holds in memory.
constexpr size_t kBodyBufferSize = 256 * 1024;
// How many base names ("-2", "-3"...) a submission tries within one millisecond.
constexpr int kNameAttempts = 1000;
// Every file a submission may write: a base name is free only when none of them exists.
constexpr std::string_view kCaptureExtensions[] = {".mim", ".raw", ".hdr", ".env"};

enum class Feature { kUpload, kFormCapture };

struct FeatureSettings {
    bool enabled = false;
    int32_t maxSizeKB = 0;  // 0: no limit
    std::string directory;
    // The modern look's upload limit in bytes (0: none), when the server has one: it then
    // stands for maxSizeKB.
    std::optional<uint64_t> maxBytes;
};

// The modern look's upload limit of `s` in bytes (0: none), when it has one.
std::optional<uint64_t> ModernUploadLimit(const config::ServerSettings& s) {
    if (s.uploadMaxSizeMB < 0) return std::nullopt;
    return static_cast<uint64_t>(s.uploadMaxSizeMB) * kBytesPerMB;
}

// The most bytes one modern upload may have (0: any): the limit in MB, or without one the
// limit in KB.
uint64_t ModernUploadBytes(const config::ServerSettings& s) {
    return ModernUploadLimit(s).value_or(static_cast<uint64_t>(std::max(s.uploadMaxSizeKB, 0)) *
                                         kBytesPerKB);
}

// Why uploads cannot be stored in `directory` now, for the sender; empty when they can. The
// Incoming folder it names is made when missing, and the owner is told when that fails.
std::string_view UploadFolderProblem(http::Connection& c, const std::string& directory) {
    if (directory.empty() || directory.front() != '/')
        return "The server has no folder for uploads.";
    std::string error;
    if (config::MakeIncomingDirectory(c.Config().programDirectory, directory, &error)) return {};
    if (!error.empty()) c.ReportToOwner("An upload was not stored: " + error + ".");
    return "The server's folder for uploads cannot be written.";
}

FeatureSettings SettingsOf(const config::ServerSettings& s, Feature feature, bool modern) {
    if (feature == Feature::kUpload) {
        return {s.uploadEnabled, s.uploadMaxSizeKB, s.uploadSaveLocation,
                modern ? ModernUploadLimit(s) : std::nullopt};
    }
    return {s.postEnabled, s.postMaxSizeKB, s.postSaveLocation, std::nullopt};
}

// A size is over a limit when its thousands of bytes, truncated toward zero, reach the limit:
// with 1000, 999999 bytes pass and 1000000 do not.
bool OverLimit(int64_t thousands, int32_t limitKB) { return limitKB != 0 && thousands >= limitKB; }

// The refusal message of a submission, or empty when it may be stored. The body read is the
// one the engine delimits by its Content-Length, so that length must be readable and within
// the limit as well as the value the page's own lookup finds.
std::string_view Refusal(http::Connection& c, const FeatureSettings& feature) {
    if (!feature.enabled) return pages::kNotEnabled;
    std::optional<std::string> declared =
        http::FindHeaderValue(c.request().headerText(), "Content-Length", kContentLengthCapacity);
    if (!declared) return pages::kSizeUnknown;
    if (feature.maxBytes) {
        std::optional<uint64_t> length = c.DeclaredBodyLength();
        if (!length) return pages::kSizeUnknown;
        if (*feature.maxBytes != 0 && *length > *feature.maxBytes) return pages::kTooLarge;
        return {};
    }
    if (OverLimit(platform::ParseDecimalAfterSpace(*declared) / kBytesPerKB, feature.maxSizeKB))
        return pages::kTooLarge;
    std::optional<uint64_t> length = c.DeclaredBodyLength();
    if (!length) return pages::kSizeUnknown;
    const auto thousands = static_cast<int64_t>(*length / static_cast<uint64_t>(kBytesPerKB));
    if (OverLimit(thousands, feature.maxSizeKB)) return pages::kTooLarge;
    return {};
}

// Counts the bytes of a body while it is stored, for the modern look's receipt.
class UploadedFile {
  public:
    uint64_t BodyBytes() const { return offset_; }
    void Take(std::string_view bytes) { offset_ += bytes.size(); }

  private:
    uint64_t offset_ = 0;
};

// Appends the rest of the body to `file`; returns the bytes written. A file that fails to
// take them does not stop the reading: the client still gets its answer. The body is stored
// as it came after the header lines: the line feed that ended the head's empty line first.
uint64_t SaveRequestBody(http::Connection& c, platform::PendingFile& file, UploadedFile* reader) {
    std::unique_ptr<char[]> buffer(new char[kBodyBufferSize]);
    uint64_t written = 0;
    size_t filled = 0;
    bool lineFeedStored = false;
    for (;;) {
        size_t n = c.ReadBody(buffer.get() + filled, kBodyBufferSize - filled);
        if (reader != nullptr) reader->Take(std::string_view(buffer.get() + filled, n));
        if (!lineFeedStored) {
            lineFeedStored = true;
            if (c.HeadEndedWithLineFeed() && file.Write("\n")) ++written;
        }
        filled += n;
        if (filled == kBodyBufferSize || (n == 0 && filled > 0)) {
            if (file.Write(std::string_view(buffer.get(), filled))) written += filled;
            filled = 0;
        }
        if (n == 0) return written;
    }
}

// The header lines, each ended by CR, and the CR of the empty line; without that last CR
// unless `whole`.
uint64_t WriteRequestHeaders(http::Connection& c, platform::PendingFile& file, bool whole) {
    std::string_view text = c.request().headerText();
    if (!whole && !text.empty()) text.remove_suffix(1);
    return file.Write(text) ? text.size() : 0;
}

// The request's variables, one "NAME: value" line each, as the owner's programs read them.
// A value is escaped (see OneLineValue), so that nothing the client sends starts a line of
// its own. SCRIPT_NAME is the URL without its query, and the access log shows it so.
std::string RequestEnvironment(http::Connection& c) {
    const config::ServerSettings& s = *c.Settings();
    const std::string address = c.clientAddress.Text();
    const std::string url(c.RoutedTarget());
    const size_t query = url.find('?');
    std::string lines;
    auto line = [&lines](std::string_view name, std::string_view value) {
        lines.append(name).append(OneLineValue(value)).append("\r\n");
    };
    if (query != std::string::npos) line("QUERY_STRING: ", url.substr(query + 1));
    line("SERVER_SOFTWARE: ", vantry::kServerSoftware);
    line("SERVER_NAME: ", s.servername);
    line("SERVER_PORT: ", std::to_string(s.port));
    line("REMOTE_HOST: ", address);
    line("REMOTE_ADDR :", address);
    std::string root = s.wwwroot;
    platform::ReplaceChar(root, '\\', '/');
    line("DOCUMENT_ROOT: ", root);
    line("REMOTE_PORT: ", std::to_string(c.clientPort));
    line("GATEWAY_INTERFACE: ", vantry::kGatewayInterface);
    line("REQUEST_URI: ", url);
    line("SCRIPT_NAME: ", url.substr(0, query));
    if (query != std::string::npos) c.SetLoggedTarget(url.substr(0, query));
    return lines;
}

// Writes the variable lines, then one CR when `trailer` is set; returns the bytes of the
// lines (the CR not counted).
uint64_t WriteRequestEnvironment(http::Connection& c, platform::PendingFile& file, bool trailer) {
    const std::string lines = RequestEnvironment(c);
    if (!file.Write(lines)) return 0;
    if (trailer) file.Write("\r");
    return lines.size();
}

// Guards the choice of base names, so two submissions in one millisecond never share one.
std::mutex& NameMutex() {
    static std::mutex mutex;
    return mutex;
}

bool BaseNameFree(const std::string& base) {
    for (std::string_view extension : kCaptureExtensions) {
        std::string name = base + std::string(extension);
        if (platform::NameTaken(name) ||
            platform::NameTaken(name + std::string(platform::kPendingSuffix))) {
            return false;
        }
    }
    return true;
}

// Creates the files of one submission under the first free base name "<directory>/<time>-POST",
// "<directory>/<time>-2-POST", ... The name is chosen and the files created under one lock,
// and a file is only written under its pending name, which counts as taken too.
bool CreateCaptureFiles(const std::string& directory, std::span<const std::string_view> extensions,
                        std::span<platform::PendingFile> files) {
    const std::string timestamp = pages::MakeTimestamp();
    std::lock_guard<std::mutex> lock(NameMutex());
    for (int attempt = 1; attempt <= kNameAttempts; ++attempt) {
        std::string base = directory + "/" + timestamp;
        if (attempt > 1) base += "-" + std::to_string(attempt);
        base += "-POST";
        if (!BaseNameFree(base)) continue;
        for (size_t i = 0; i < extensions.size(); ++i) {
            if (!files[i].Create(base + std::string(extensions[i]))) return false;
        }
        return true;
    }
    return false;
}

// Stores one accepted submission; returns the bytes the page reports. The files appear under
// their names only once the whole body has arrived; a body cut short leaves none of them.
uint64_t StoreSubmission(http::Connection& c, const std::string& directory, bool requestData,
                         bool separateFiles, UploadedFile* reader) {
    static constexpr std::string_view kPlusHeaders[] = {".hdr", ".env", ".mim"};
    static constexpr std::string_view kRaw[] = {".raw"};
    static constexpr std::string_view kBodyOnly[] = {".mim"};
    std::span<const std::string_view> extensions = kBodyOnly;
    if (requestData)
        extensions = separateFiles ? std::span<const std::string_view>(kPlusHeaders)
                                   : std::span<const std::string_view>(kRaw);
    std::array<platform::PendingFile, std::size(kPlusHeaders)> files;
    std::span<platform::PendingFile> used(files.data(), extensions.size());

    // A relative directory would put the files wherever the server was started.
    if (directory.empty() || directory.front() != '/') return 0;
    if (std::string error;
        !config::MakeIncomingDirectory(c.Config().programDirectory, directory, &error)) {
        c.ReportToOwner("A submission was not stored: " + error + ".");
        return 0;
    }
    if (!CreateCaptureFiles(directory, extensions, used)) return 0;
    uint64_t total = 0;
    if (requestData) {
        total += WriteRequestHeaders(c, used[0], separateFiles);
        total += WriteRequestEnvironment(c, separateFiles ? used[1] : used[0], !separateFiles);
    }
    total += SaveRequestBody(c, used.back(), reader);
    if (c.BodyCutShort()) return 0;
    for (platform::PendingFile& file : used) {
        if (!file.Publish()) return 0;
    }
    return total;
}

// What the modern look says was received: the bytes of the body; that nothing was kept when
// nothing was.
std::string ModernReceipt(Feature feature, uint64_t total, const UploadedFile& upload) {
    if (total == 0) return "Nothing was stored.";
    if (feature == Feature::kFormCapture)
        return "Received your form, " + platform::HumanSize(upload.BodyBytes()) + ".";
    return "Received " + platform::HumanSize(upload.BodyBytes()) + ".";
}

// The modern look's upload of a form: each file in the folder under its own name, and a page
// that names each file stored with its size, and what went wrong if anything did.
void StoreNamedFiles(http::Connection& c, const FeatureSettings& f, std::string_view boundary) {
    UploadOutcome outcome;
    if (const std::string_view problem = UploadFolderProblem(c, f.directory); !problem.empty()) {
        outcome.failure = problem;
    } else {
        // Without a limit in MB the body was held to the limit in KB by its declared length.
        outcome = StoreMultipartUpload(c, boundary, f.directory, f.maxBytes.value_or(0));
    }
    std::vector<std::string> sentences;
    for (const StoredUpload& file : outcome.stored) {
        sentences.push_back("Received " + platform::EscapeHtml(file.name) + ", " +
                            platform::HumanSize(file.size) + ".");
    }
    if (!outcome.failure.empty()) {
        sentences.push_back(
            platform::EscapeHtml(outcome.failure) +
            (outcome.stored.empty() ? " Nothing was stored." : " The files above were stored."));
    } else if (outcome.stored.empty()) {
        sentences.push_back("No file was chosen: nothing was stored.");
    }
    std::string message;
    for (const std::string& sentence : sentences)
        message += (message.empty() ? "" : "</p>\n<p>") + sentence;
    std::string_view title = kUploadReceivedTitle;
    if (!outcome.failure.empty()) {
        title = kUploadFailedTitle;
    } else if (outcome.stored.size() > 1) {
        title = kUploadsReceivedTitle;
    }
    pages::AppendAcknowledgement(c, kCapturePage, title, message);
}

void CapturePost(http::Connection& c, bool requestData, bool separateFiles, Feature feature) {
    const config::ServerSettings* settings = c.Settings();
    if (settings == nullptr) {
        c.Answer(http::Response::Error(404));
        return;
    }
    const bool modern = c.ModernLook();
    const FeatureSettings f = SettingsOf(*settings, feature, modern);
    // A refused body is never read: the answer goes at once, and whatever the client still
    // sends is drained by the main loop after the answer, at no worker's cost.
    std::string message(Refusal(c, f));
    if (modern && feature == Feature::kUpload) {
        if (message == pages::kTooLarge) {
            c.Answer(http::Response::Error(413));
            return;
        }
        std::optional<std::string> boundary =
            MultipartBoundary(c.request().Header("Content-Type").value_or(""));
        if (message.empty() && boundary) {
            StoreNamedFiles(c, f, *boundary);
            return;
        }
    }
    if (message.empty()) {
        UploadedFile upload;
        uint64_t total = StoreSubmission(c, f.directory, requestData, separateFiles, &upload);
        message = modern
                      ? ModernReceipt(feature, total, upload)
                      : "Reception Acknowledged &nbsp " + std::to_string(total) + " Bytes Received";
    }
    std::string_view title = kCaptureTitle;
    if (modern) title = feature == Feature::kUpload ? kUploadReceivedTitle : kFormReceivedTitle;
    pages::AppendAcknowledgement(c, kCapturePage, title, message);
}

void AppendUploadStep(http::Connection& c, std::string_view number, std::string_view text,
                      std::string_view control) {
    pages::AppendRowTag(c, kUploadPage, 1);
    c.AppendBodyLine("<td width=\"55\" valign=\"top\"><font face=\"Garamond\" size=\"6\">" +
                     std::string(number) + "</font></td>");
    c.AppendBodyLine(text);
    c.AppendBodyLine(control);
    c.AppendBodyLine("</tr>");
}

// The upload page of the modern look: a labelled field for files and its button, which post
// the files as a form; with script, files chosen or dropped on the page go up at once as
// resumable uploads, each with its progress in the list below the form.
void AppendModernUploadForm(http::Connection& c, const config::ServerSettings& settings) {
    pages::AppendPageStart(c, kUploadPage, "File upload", {}, true);
    if (settings.uploadEnabled) {
        const uint64_t limit = ModernUploadBytes(settings);
        std::string form =
            "<form class=\"fields\" id=\"upload-form\" action=\"/VNT/HandleFileUpload.html\" "
            "method=\"post\" enctype=\"multipart/form-data\" data-resumable=\"/VNT/resumable/\" "
            "data-limit=\"" +
            std::to_string(limit) +
            "\">\r\n"
            "<label for=\"filename\">Files to upload</label>\r\n"
            "<input type=\"file\" id=\"filename\" name=\"filename\" multiple "
            "aria-describedby=\"upload-limit\">\r\n<p class=\"status\" id=\"upload-limit\">";
        form += limit == 0 ? "Files of any size are taken."
                           : "Files up to " + platform::HumanSize(limit) + " are taken.";
        form +=
            " The next page says what arrived.</p>\r\n"
            "<p><input type=\"submit\" name=\"sub\" value=\"Upload files\"></p>\r\n</form>\r\n"
            "<ul class=\"uploads\" id=\"upload-list\" aria-live=\"polite\"></ul>\r\n"
            "<script src=\"" +
            std::string(pages::kUploadScriptPath) + "\" defer></script>";
        c.AppendBodyLine(form);
        pages::AppendHelpLink(c, kUploadPage);
    } else {
        c.AppendBodyLine("<p>Uploads are switched off by the administrator.</p>");
    }
    pages::AppendPageEnd(c, kUploadPage);
}

}  // namespace

void FileUploadPage(http::Connection& c) {
    const config::ServerSettings* settings = c.Settings();
    if (settings == nullptr) {
        c.Answer(http::Response::Error(404));
        return;
    }
    if (c.ModernLook()) {
        AppendModernUploadForm(c, *settings);
        return;
    }
    pages::AppendPageStart(c, kUploadPage, "File Upload",
                           "<SCRIPT>window.resizeTo(600, 650);</SCRIPT>", false);
    if (settings->uploadEnabled) {
        c.AppendBodyLine(
            "<FORM action=\"HandleFileUpload.html\" method=\"post\" "
            "ENCTYPE=\"multipart/form-data\">");
        c.AppendBodyLine("<TABLE width=555 border=0 CELLSPACING='2' CELLPADDING='10'>");
        pages::AppendRowTag(c, kUploadPage, 0);
        c.AppendBodyLine("<td COLSPAN=3 height='60'><font  face='Garamond' size='6'>");
        c.AppendBodyLine("File Upload");
        c.AppendBodyLine("</font></td></tr>");
        std::string choose =
            "<td width=\"230\"><font size=\"2\">First click on the Browse Button and select a "
            "file to upload in the File Open Dialog Box, and then click on the Open button.";
        if (settings->uploadMaxSizeKB != 0) {
            choose += " File uploads are currently limited to files &nbsp " +
                      std::to_string(settings->uploadMaxSizeKB) + " KB or smaller.";
        }
        choose += "</font></td>";
        AppendUploadStep(c, "1", choose,
                         "<td width=\"195\" valign=\"top\"><input type=\"file\" "
                         "name=\"filename\"></td>");
        AppendUploadStep(c, "2",
                         "<td width=\"230\"><font size=\"2\">After the correct file has been "
                         "selected click on the Upload File Button.</font></td>",
                         "<td width=\"270\" valign=\"top\"><input type=\"submit\" name=\"sub\" "
                         "value=\"Upload File\"></td>");
        AppendUploadStep(c, "3",
                         "<td width=\"230\"><font size=\"2\">When the file upload has completed "
                         "you will be notified.</font></td>",
                         "<td width=\"270\">&nbsp;</td>");
        pages::AppendRowTag(c, kUploadPage, 0);
        c.AppendBodyLine("<TD COLSPAN=3 height='60'>");
        pages::AppendHelpLink(c, kUploadPage);
        c.AppendBodyLine("</TD> </TABLE>");
        c.AppendBodyLine("</FORM>");
    } else {
        c.AppendBodyLine("<H2>File Uploads Are Currently Disabled By The Administrator<H2>");
    }
    pages::AppendPageEnd(c, kUploadPage);
}

std::optional<UploadFolder> OpenUploadFolder(http::Connection& c) {
    const config::ServerSettings* settings = c.Settings();
    if (settings == nullptr) {
        c.Answer(http::Response::Error(404));
        return std::nullopt;
    }
    const FeatureSettings f = SettingsOf(*settings, Feature::kUpload, true);
    if (!f.enabled) {
        c.Answer(http::Response::Error(403));
        return std::nullopt;
    }
    if (!UploadFolderProblem(c, f.directory).empty()) {
        c.Answer(http::Response::Error(500));
        return std::nullopt;
    }
    return UploadFolder{f.directory, ModernUploadBytes(*settings)};
}

void HandlePutUpload(http::Connection& c, std::string_view name) {
    const config::ServerSettings* settings = c.Settings();
    if (settings == nullptr) {
        c.Answer(http::Response::Error(404));
        return;
    }
    const std::string_view refusal = Refusal(c, SettingsOf(*settings, Feature::kUpload, true));
    if (!refusal.empty() && refusal != pages::kNotEnabled) {
        c.Answer(http::Response::Error(refusal == pages::kTooLarge ? 413 : 400));
        return;
    }
    const std::optional<UploadFolder> folder = OpenUploadFolder(c);
    if (!folder) return;
    std::optional<StoredUpload> stored = StoreWholeBody(c, name, folder->directory);
    if (!stored) {
        c.Answer(http::Response::Error(c.BodyCutShort() ? 400 : 500));
        return;
    }
    const std::string text =
        "Stored " + stored->name + ", " + platform::HumanSize(stored->size) + ".\n";
    c.SendText("HTTP/1.0 201 Created\r\nServer: " VANTRY_SERVER_HEADER
               "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
               std::to_string(text.size()) + "\r\n\r\n" + text);
    c.Answer(http::Response::Sent(201));
}

void HandleFileUpload(http::Connection& c) { CapturePost(c, false, false, Feature::kUpload); }
void HandlePost(http::Connection& c) { CapturePost(c, false, false, Feature::kFormCapture); }
void HandlePostRaw(http::Connection& c) { CapturePost(c, true, false, Feature::kFormCapture); }
void HandlePostPlusHeaders(http::Connection& c) {
    CapturePost(c, true, true, Feature::kFormCapture);
}

}  // namespace apps
