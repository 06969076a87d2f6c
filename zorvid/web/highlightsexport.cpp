#include "highlightsexport.h"

#include "pagelanguage.h"

#include <QHash>
#include <QStringList>

namespace zorvid {

namespace {

// Characters of a file name kept at most, before the extension.
constexpr int fileNameLimit = 100;

QHash<QString, const Book *> booksById(const QVector<Book> &books)
{
    QHash<QString, const Book *> byId;
    for (const Book &book : books)
        byId.insert(book.contentId, &book);
    return byId;
}

// One line of text, escaped so that Markdown shows it as it is: what could
// start a block where a line starts (a heading, a list item, a quote, a
// rule), inline markup and links, and HTML, which becomes entities.
QString markdownLine(const QString &line)
{
    QString escaped;
    int digits = 0;
    while (digits < line.size() && line.at(digits).isDigit())
        ++digits;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('&'))
            escaped += QLatin1String("&amp;");
        else if (c == QLatin1Char('<'))
            escaped += QLatin1String("&lt;");
        else if (c == QLatin1Char('>'))
            escaped += QLatin1String("&gt;");
        else if (QStringLiteral("\\`*_[]~|").contains(c) ||
                 (i == 0 && QStringLiteral("#+-=").contains(c)) ||
                 (i == digits && digits > 0 && (c == QLatin1Char('.') || c == QLatin1Char(')'))))
            escaped += QLatin1Char('\\') + c;
        else
            escaped += c;
    }
    return escaped;
}

// A text of several lines as one block of Markdown: each line escaped, the
// lines kept apart by hard breaks and indented by INDENT, so that they stay
// inside the list item they belong to.
QString markdownBlock(const QString &text, const QString &indent)
{
    QStringList lines;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty())
            lines << markdownLine(line.trimmed());
    }
    return lines.join(QLatin1String("  \n") + indent);
}

QString csvField(const QString &value)
{
    QString field = value;
    if (!field.isEmpty() && QStringLiteral("=+-@\t\r").contains(field.at(0)))
        field.prepend(QLatin1Char('\''));
    field.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + field + QLatin1Char('"');
}

} // namespace

QByteArray highlightsMarkdown(const HighlightList &list, const QVector<Book> &books,
                              const PageLanguage &language)
{
    const QHash<QString, const Book *> byId = booksById(books);
    const QString indent = QStringLiteral("  ");
    QString document;
    const Highlight *previous = nullptr;
    for (const Highlight &highlight : list.highlights) {
        if (!previous || previous->bookId != highlight.bookId) {
            const Book *book = byId.value(highlight.bookId);
            const QString title =
                book && !book->title.isEmpty() ? book->title : language.text("untitled");
            document += QLatin1String("# ") + markdownLine(title.simplified()) + "\n\n";
            if (book && !book->author.isEmpty())
                document += markdownLine(book->author.simplified()) + "\n\n";
        }
        if ((!previous || previous->bookId != highlight.bookId ||
             previous->chapter != highlight.chapter) &&
            !highlight.chapter.isEmpty())
            document +=
                QLatin1String("## ") + markdownLine(highlight.chapter.simplified()) + "\n\n";
        QStringList parts;
        if (!highlight.text.isEmpty())
            parts << markdownBlock(highlight.text, indent);
        if (!highlight.note.isEmpty()) {
            parts << QLatin1String("**") + markdownLine(language.text("noteLabel")) +
                         QLatin1String("**  \n") + indent + markdownBlock(highlight.note, indent);
        }
        if (highlight.created.isValid())
            parts << QLatin1Char('_') + markdownLine(language.date(highlight.created.date())) +
                         QLatin1Char('_');
        document += QLatin1String("- ") + parts.join(QLatin1String("\n\n") + indent) + "\n\n";
        previous = &highlight;
    }
    if (!list.complete)
        document += QLatin1Char('_') + markdownLine(language.text("notesCut")) + "_\n";
    return document.toUtf8();
}

QByteArray highlightsCsv(const HighlightList &list, const QVector<Book> &books)
{
    const QHash<QString, const Book *> byId = booksById(books);
    // Column names that importing tools know, in no particular language.
    QString csv = QChar(0xfeff) + QStringLiteral("Book,Author,Chapter,Highlight,Note,Date\r\n");
    for (const Highlight &highlight : list.highlights) {
        const Book *book = byId.value(highlight.bookId);
        const QStringList fields{
            book ? book->title : QString(),
            book ? book->author : QString(),
            highlight.chapter,
            highlight.text,
            highlight.note,
            highlight.created.isValid() ? highlight.created.toString(Qt::ISODate) : QString()};
        QStringList quoted;
        for (const QString &field : fields)
            quoted << csvField(field);
        csv += quoted.join(QLatin1Char(',')) + QLatin1String("\r\n");
    }
    return csv.toUtf8();
}

QString exportFileName(const QString &title, const QString &fallback, const QString &extension)
{
    QString name;
    int characters = 0;
    for (const QChar c : title) {
        if (characters == fileNameLimit && !c.isLowSurrogate())
            break;
        const bool refused =
            c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f) ||
            QStringLiteral("/\\\"'<>:|?*").contains(c) || c.category() == QChar::Other_Format ||
            c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph;
        if (refused)
            continue;
        // A pair of surrogates counts, and is kept, as one character.
        if (!c.isLowSurrogate())
            ++characters;
        name += c.isSpace() ? QLatin1Char(' ') : c;
    }
    name = name.simplified();
    while (!name.isEmpty() &&
           (name.startsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char('.'))))
        name = (name.startsWith(QLatin1Char('.')) ? name.mid(1) : name.left(name.size() - 1))
                   .trimmed();
    if (name.isEmpty() && fallback != title)
        return exportFileName(fallback, fallback, extension);
    return (name.isEmpty() ? QStringLiteral("highlights") : name) + QLatin1Char('.') + extension;
}

} // namespace zorvid
