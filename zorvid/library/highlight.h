#pragma once

#include <QDateTime>
#include <QString>
#include <QVector>

namespace zorvid {

// A highlight or a note that the owner made while reading, as Nickel's
// database keeps it, its texts already bounded. Text or note may be empty,
// not both.
struct Highlight {
    // The ContentID of the book it lies in.
    QString bookId;
    // The title of its chapter; empty when the part has none or is unknown.
    QString chapter;
    // The highlighted text: lines apart by "\n", no other control
    // characters.
    QString text;
    // The owner's note, in lines as the text.
    QString note;
    // Invalid when the database gives no date.
    QDateTime created;
};

// The highlights of a reading, in reading order, book after book.
struct HighlightList {
    QVector<Highlight> highlights;
    // False when a limit cut the list short.
    bool complete = true;
};

} // namespace zorvid
