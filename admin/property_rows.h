// The rows of the server properties form: what each one shows, which form fields it posts
// and which setting of a server they change. The page and the handler of its post share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>

#include "config/server_config.h"

namespace admin {

// The form value buffer of the administration handlers: longer values arrive cut to one
// character less.
inline constexpr std::size_t kFormNameCapacity = 80;
inline constexpr std::size_t kFormValueCapacity = 256;
// The longest text a row stores from the form.
inline constexpr std::size_t kMaxTextLength = kFormValueCapacity - 1;
inline constexpr std::size_t kMaxLocationLength = 99;

// Server 2's form field is Server 1's followed by this.
inline constexpr std::string_view kServer2Suffix = "-2";

using config::ServerSettings;

// Where a row's value goes: a text, a number, a switch or the network drive's mode of a
// server's settings.
using Setting = std::variant<std::string ServerSettings::*, int32_t ServerSettings::*,
                             bool ServerSettings::*, config::WebDavMode ServerSettings::*>;

struct PropertyRow {
    int band;                 // AppendRowTag's band: the rows of one feature share a colour
    std::string_view label;   // the classic look's cell
    std::string_view modern;  // the modern look's label
    std::string_view field;
    Setting setting;
    std::string_view helpTopic;
    std::size_t maxLength = kMaxTextLength;  // for texts
    // A setting only the modern form shows (the classic form keeps its rows). A blank post
    // leaves it as it is, and a value it cannot take refuses the form. A number is a whole
    // number of 0 or more, blank while the setting is unset (negative); the network drive's
    // mode is a choice of N, R or W; its URL prefix a path without "." or ".." parts.
    bool modernOnly = false;
};

// In page order, after the "Enable Server" row, which is no per-server setting.
inline constexpr PropertyRow kPropertyRows[] = {
    {2, "<TD>Port to run Web from:</TD>", "Port", "PORT", &ServerSettings::port, "PortNumber"},
    {3, "<TD>Website Name(domain i.e. www.example.com):</TD>",
     "Website name (domain, such as www.example.com)", "SITE", &ServerSettings::servername,
     "SiteName"},
    {4, "<TD>Root Directory for Web Site:</TD>", "Root folder of the website", "ROOT",
     &ServerSettings::wwwroot, "RootDirectory"},
    {5, "<TD>Default Document:</TD>", "Default document", "DEF", &ServerSettings::defaultDocument,
     "DefaultDocuments"},
    {6, "<TD>Log Web Requests(access.log)</TD>", "Log web requests (access.log)", "LOG",
     &ServerSettings::logs, "LogWebRequests"},
    {7, "<TD>Use Enable /cgi-bin directory</TD>", "Run programs in the /cgi-bin folder", "CGI",
     &ServerSettings::cgi, "EnableCgi"},
    {8, "<TD>Directory Browsing Enabled</TD>", "Folder browsing enabled", "LIST",
     &ServerSettings::list, "AllowBrowsing"},
    {9, "<TD>Search Page Enabled</TD>", "Search page enabled", "SEARCHENABLED",
     &ServerSettings::searchEnabled, "EnableSearch"},
    {10, "<TD>Home Page Enabled Enabled</TD>", "Home page enabled", "HOMEENABLED",
     &ServerSettings::homeEnabled, "EnableHome"},
    {10, "<TD>Home Page Location:</TD>", "Home page location", "HOMEPAGELOCATION",
     &ServerSettings::homePageLocation, "HomePageLocation", kMaxLocationLength},
    {11, "<TD>Favorites List Enabled</TD>", "Favorites list enabled", "FAVORITESENABLED",
     &ServerSettings::favoritesEnabled, "EnableFavortes"},
    {11, "<TD>Favorites Location:</TD>", "Favorites location", "FAVORITESLOCATION",
     &ServerSettings::favoritesLocation, "FavortesLocation", kMaxLocationLength},
    {12, "<TD>User List Page Enabled</TD>", "User list page enabled", "USERLISTENABLED",
     &ServerSettings::userListEnabled, "EnableUserList"},
    {12, "<TD>User List Shown To Every Visitor</TD>", "User list shown to every visitor",
     "USERLISTPUBLIC", &ServerSettings::userListPublic, "UserListPublic"},
    {13, "<TD>Universal Navigation Bar Enabled</TD>", "Navigation bar enabled",
     "UNIVERSALNAVBARENABLED", &ServerSettings::universalNavBarEnabled, "EnableNavBar"},
    {14, "<TD>File Uploads Enabled</TD>", "File uploads enabled", "UPLOADENABLED",
     &ServerSettings::uploadEnabled, "UploadsEnabled"},
    {14, "<TD>Maximum Allowable Upload Size in KB:</TD>", "Maximum allowable upload size in KB",
     "UPLOADMAXSIZEKB", &ServerSettings::uploadMaxSizeKB, "UploadMaxSize"},
    {14, "", "Maximum upload size in MB (0: no limit)", "UPLOADMAXSIZEMB",
     &ServerSettings::uploadMaxSizeMB, "UploadMaxSizeMB", kMaxTextLength, true},
    {14, "<TD>File Upload Location:</TD>", "File upload location", "UPLOADSAVELOCATION",
     &ServerSettings::uploadSaveLocation, "UploadLocation"},
    {15, "<TD>Message Posting Enabled</TD>", "Message posting enabled", "MESSAGEUPLOADENABLED",
     &ServerSettings::messageUploadEnabled, "MessagesEnabled"},
    // The range in the label is advice only: the value is stored as posted.
    {15, "<TD>Maximim Allowable Message Size 1 - 32000:</TD>",
     "Maximum allowable message size in KB (1 to 32000)", "MESSAGEMAXSIZEKB",
     &ServerSettings::messageMaxSizeKB, "MessageMaxSize"},
    {15, "<TD>Message is in XML Format</TD>", "Messages saved in XML format", "MESSAGEISXMLFORMAT",
     &ServerSettings::messageIsXML, "MessageIsInXMLFormat"},
    {15, "<TD>Message Location:</TD>", "Message location", "MESSAGESAVELOCATION",
     &ServerSettings::messageSaveLocation, "MessageLocation"},
    {16, "<TD>Generic Posting Enabled</TD>", "Generic posting enabled", "POSTENABLED",
     &ServerSettings::postEnabled, "PostingEnabled"},
    {16, "<TD>Maximim Allowable Posting Size in KB:</TD>", "Maximum allowable posting size in KB",
     "POSTMAXSIZEKB", &ServerSettings::postMaxSizeKB, "PostingMaxSize"},
    {16, "<TD>Posting Location:</TD>", "Posting location", "POSTSAVELOCATION",
     &ServerSettings::postSaveLocation, "PostingLocation"},
    {17, "<TD>Site Redirector Enabled</TD>", "Site redirector enabled", "REDIRECTORENABLED",
     &ServerSettings::redirectorEnabled, "ReDirectorEnabled"},
    {17, "<TD>FTP Site Name:</TD>", "FTP site name", "FTPSITENAME", &ServerSettings::ftpSiteName,
     "ReDirectorSiteName"},
    {17, "<TD>FTP User ID:</TD>", "FTP user ID", "FTPUSERID", &ServerSettings::ftpUserID,
     "ReDirectorUserID"},
    {17, "<TD>FTP Password:</TD>", "FTP password", "FTPPASSWORD", &ServerSettings::ftpPassword,
     "ReDirectorPassword"},
    {17, "<TD>FTP Path:</TD>", "FTP path", "FTPPATH", &ServerSettings::ftpPath, "ReDirectorPath"},
    {17, "<TD>FTP File Upload Name:</TD>", "FTP upload file name", "FTPUPLOADFILENAME",
     &ServerSettings::ftpUploadFileName, "ReDirectorFileName"},
    {17, "<TD>Use JavaScript Redirector</TD>", "Use the JavaScript redirector",
     "USEJAVASCRIPTREDIRECTOR", &ServerSettings::useJavaScriptRedirector,
     "ReDirectorUseJavaScript"},
    {18, "", "Network drive", "WEBDAV", &ServerSettings::webdav, "WebDav", kMaxTextLength, true},
    {18, "", "Network drive's URL prefix (/: the whole site)", "WEBDAVPATH",
     &ServerSettings::webdavPath, "WebDavPath", kMaxTextLength, true},
};

}  // namespace admin
