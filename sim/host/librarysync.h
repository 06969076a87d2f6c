#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

struct sqlite3;

// Nickel's library sync: imports the book files on the storage into its
// database (.kobo/KoboReader.sqlite under the storage) and removes the books
// whose files are gone, in one transaction, so that a reader of the database
// sees the library before or after a sync, never halfway.
class LibrarySync {
public:
    // STORAGE is the folder that stands for /mnt/onboard.
    explicit LibrarySync(const QString &storage);

    // Brings the database in line with the storage. False, with error(), when
    // the database could not be opened or written: nothing changed then.
    bool run();

    int imported() const;
    int removed() const;
    // The titles of the books the last run imported, in the order found.
    QStringList importedTitles() const;
    QString error() const;

    // The ContentID of a book file stands for the storage by this.
    static const char contentIdPrefix[];
    // The most files looked at, and the depth of folders searched.
    static constexpr int maxFiles = 100000;
    static constexpr int maxDepth = 32;

private:
    bool write(sqlite3 *database);
    bool createTable(sqlite3 *database);
    bool readColumns(sqlite3 *database);
    bool readKnown(sqlite3 *database, QSet<QString> *known, QStringList *books);
    void findBooks(const QString &folder, int depth, QStringList *paths);
    bool insertBook(sqlite3 *database, const QString &relativePath);
    bool removeBook(sqlite3 *database, const QString &contentId);
    bool failed(sqlite3 *database, const QString &step);

    QString storage;
    QSet<QString> columns;
    int importedBooks = 0;
    int removedBooks = 0;
    QStringList titles;
    QString lastError;
};
