// The status page's HTML, style and script, kept in the program: no file of
// the system is ever served, and the page needs nothing from the network.
#pragma once

#include <QByteArray>

#include <optional>
#include <string>

inline constexpr const char* kSessionCookie = "printorb_session";

struct TStaticFile {
    QByteArray Type;
    QByteArray Body;
};
// "style.css", "app.js": the page's own files; nothing else.
std::optional<TStaticFile> StaticFile(const std::string& name);

// Text for HTML: & < > " ' as entities.
std::string HtmlEscaped(const std::string& text);
// A whole page: the frame with its navigation around the named page's body.
std::string PageHtml(const std::string& page, const std::string& title, const std::string& csrf,
                     const std::string& version, bool loggedIn);
std::string LoginHtml(const std::string& message, const std::string& version);
