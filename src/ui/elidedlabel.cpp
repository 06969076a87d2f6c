#include "ui/elidedlabel.h"

#include "ui/uitext.h"

#include <QEvent>

namespace zorvi {

ElidedLabel::ElidedLabel(QWidget *parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    alignToPage();
}

ElidedLabel::~ElidedLabel() = default;

void ElidedLabel::setFullText(const QString &text)
{
    full = text;
    elide();
}

void ElidedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    // The style sheet sets the font once the label is polished.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        elide();
    if (event->type() == QEvent::LayoutDirectionChange)
        alignToPage();
}

void ElidedLabel::alignToPage()
{
    // A label aligns plain text by the text's own direction; these line up
    // with the rest of the page instead, a name in Latin letters on the right
    // of a page written right to left.
    const Qt::Alignment start =
        layoutDirection() == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft;
    setAlignment(start | Qt::AlignAbsolute | Qt::AlignVCenter);
}

void ElidedLabel::elide()
{
    setText(isolatedText(fontMetrics().elidedText(full, Qt::ElideRight, width())));
}

} // namespace zorvi
