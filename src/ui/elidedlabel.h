#pragma once

#include <QLabel>

namespace zorvi {

// A label of one line for text that may run in another direction than the
// page, such as a device's name or the product's: as much of it as fits the
// label's width, with an ellipsis where it is cut, in the text's own
// direction, and lined up with the page's start. It asks for no width of its
// own, so that no text can widen the page.
class ElidedLabel : public QLabel {
public:
    explicit ElidedLabel(QWidget *parent);
    ~ElidedLabel() override;

    void setFullText(const QString &text);
    QString fullText() const { return full; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void alignToPage();
    void elide();

    QString full;
};

} // namespace zorvi
