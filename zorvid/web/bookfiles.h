#pragma once

#include <QString>

namespace zorvid {

// Where the files that Nickel's database names lie: a book the owner copied
// on has a ContentID "file:///mnt/onboard/...", and its cover images, which
// Nickel renders, lie under .kobo-images on the same storage. STORAGE is
// where that storage is mounted for the daemon (/mnt/onboard on the
// reader). Nothing outside it is ever named: links are resolved first, so
// neither "..", nor a link, nor another storage (a memory card) leads out.
class BookFiles {
public:
    explicit BookFiles(const QString &storage);

    // The book's file, resolved; empty when CONTENT_ID names no regular file
    // on the storage, or a hidden one or one in a hidden folder at any depth.
    QString bookFile(const QString &contentId) const;
    // The cover Nickel rendered for the book with IMAGE_ID, resolved; empty
    // when there is none.
    QString coverFile(const QString &imageId) const;

private:
    // PATH with every link resolved, if it is a regular file under the
    // storage; empty otherwise.
    QString insideStorage(const QString &path) const;
    // Whether NAME, an entry of FOLDER, is one of its hidden entries under
    // another name.
    bool isHiddenEntry(const QString &folder, const QString &name) const;

    QString storage;
};

} // namespace zorvid
