#include "web/webpages.h"

#include <QFile>

#include <map>

namespace {

QByteArray Resource(const std::string& name)
{
    QFile file(QString::fromStdString(":/printorb/web/" + name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

std::string Frame(const std::string& title, const std::string& head, const std::string& nav, const std::string& body,
                  const std::string& version, const std::string& page)
{
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<title>" + HtmlEscaped(title) + " - PrintORB</title>\n"
           "<link rel=\"stylesheet\" href=\"/static/style.css\">\n" + head +
           "</head>\n<body data-page=\"" + HtmlEscaped(page) + "\">\n"
           "<a class=\"skip\" href=\"#main\">Skip to the content</a>\n"
           "<header class=\"top\"><div class=\"wrap\"><span class=\"brand\">PrintORB</span>" + nav +
           "</div></header>\n<main id=\"main\" class=\"wrap\">\n" + body +
           "</main>\n<footer class=\"wrap foot\">PrintORB " + HtmlEscaped(version) +
           " &middot; result report print server</footer>\n</body>\n</html>\n";
}

}  // namespace

std::optional<TStaticFile> StaticFile(const std::string& name)
{
    static const std::map<std::string, QByteArray> types = {{"style.css", "text/css; charset=utf-8"},
                                                            {"app.js", "text/javascript; charset=utf-8"}};
    const auto type = types.find(name);
    if (type == types.end())
        return std::nullopt;
    return TStaticFile {type->second, Resource(name)};
}

std::string HtmlEscaped(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string PageHtml(const std::string& page, const std::string& title, const std::string& csrf,
                     const std::string& version, bool loggedIn)
{
    static const std::pair<const char*, const char*> links[] = {
        {"/", "Overview"}, {"/jobs", "Jobs"}, {"/log", "Log"}, {"/printers", "Printers"}};
    const std::string current = page == "overview" ? "/" : page == "job" ? "/jobs" : "/" + page;
    std::string nav = "<nav aria-label=\"Pages\"><ul>";
    for (const auto& [href, label] : links)
        nav += std::string("<li><a href=\"") + href + "\"" +
               (current == href ? " aria-current=\"page\"" : "") + ">" + label + "</a></li>";
    nav += "</ul>";
    if (loggedIn)
        nav += "<form method=\"post\" action=\"/logout\" class=\"logout\"><button type=\"submit\">Log out</button>"
               "</form>";
    nav += "</nav>";
    const std::string head = "<meta name=\"csrf-token\" content=\"" + HtmlEscaped(csrf) + "\">\n"
                             "<script src=\"/static/app.js\" defer></script>\n";
    return Frame(title, head, nav, Resource(page + ".html").toStdString(), version, page);
}

std::string LoginHtml(const std::string& message, const std::string& version)
{
    const std::string body =
        "<h1>Log in</h1>\n<section class=\"card narrow\">\n"
        "<p>The status page of this print server needs its password.</p>\n" +
        (message.empty() ? std::string() : "<p class=\"alert\" role=\"alert\">" + HtmlEscaped(message) + "</p>\n") +
        "<form method=\"post\" action=\"/login\">\n"
        "<label for=\"password\">Password</label>\n"
        "<input id=\"password\" name=\"password\" type=\"password\" autocomplete=\"current-password\" required "
        "autofocus>\n<button type=\"submit\">Log in</button>\n</form>\n</section>\n";
    return Frame("Log in", "", "", body, version, "login");
}
