#pragma once

#include <QWidget>

// A book cover on the home screen, drawn in black and white. A tap on it asks
// for the book to be opened.
class BookCover : public QWidget {
    Q_OBJECT

public:
    BookCover(const QString &title, const QString &author, int design, QSize size, QWidget *parent);

    QSize sizeHint() const override;

signals:
    void tapped();

protected:
    bool event(QEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void drawDesign(QPainter &painter, const QRectF &area) const;

    QString title;
    QString author;
    int design;
    QSize coverSize;
};
