#pragma once

#include "http/httpreply.h"
#include "pagelanguage.h"

#include <kainjow/mustache.hpp>

namespace zorvid {

// What a page's template is filled in with. The templates escape every
// value for HTML ({{ }} only, never {{{ }}}), so text from the library or
// from a browser can never become markup.
using PageData = kainjow::mustache::data;

// A value for PageData.
std::string pageValue(const QString &text);
// The same bytes as a template's string, and back.
std::string pageBytes(const QByteArray &bytes);
QByteArray fromPage(const std::string &text);

// The page of the template CONTENT (a file of pages/, without ".html") in
// the frame every page shares, in LANGUAGE, as a reply with STATUS.
HttpReply pageReply(int status, const char *content, const QString &title,
                    const PageLanguage &language, PageData data);

// The style sheet, the script or the icon that the pages load, or 404 for
// any other name.
HttpReply assetReply(const QByteArray &name);

// The fields every reply to a browser carries: a policy that lets a page
// load nothing but the reader's own style sheet, script and images, and
// run no script written into the page; no sniffing of types; no framing;
// no referrer for other sites.
void addBrowserHeaders(HttpReply *reply);

} // namespace zorvid
