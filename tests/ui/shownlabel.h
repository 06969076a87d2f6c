#pragma once

#include <QLabel>
#include <QTextDocument>

// The text a label shows, as a person reads it, whether it was given as
// plain text or as escaped rich text.
inline QString shownText(const QLabel *label)
{
    if (label->textFormat() != Qt::RichText)
        return label->text();
    QTextDocument document;
    document.setHtml(label->text());
    return document.toPlainText();
}
