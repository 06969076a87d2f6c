#!/usr/bin/env python3
"""Writes a reader's library database as Nickel keeps it, for tests and the demo.

    tools/library/makelibrary.py DATABASE BOOKS [--storage ROOT] [--seed N]

DATABASE becomes an SQLite file with Nickel's `content` table: BOOKS books,
chapters of some of them, and the awkward cases a real library holds: titles
with markup, quotes and ampersands, right-to-left and CJK titles, missing
authors, series and dates (NULL or empty), dates in several ISO 8601 forms,
and store books, some of which are not on the reader. The table carries many
more columns than a reader of it needs, in an order that changes with the
seed, as the columns of real firmware do.

Every tenth book has chapters and highlights in the `Bookmark` table, written
in no particular order: highlights with and without notes, notes over several
lines, rows hidden (deleted, waiting to be synced), bookmarks (dogears) and
drawn notes without text, and, in the first book, texts that would be markup,
links or formulas. The `user` table holds an account whose secrets must never
leave the reader.

Books the owner copied on have a file:///mnt/onboard/... ContentID; with
--storage, their files are written under ROOT (ROOT standing for
/mnt/onboard), each with bytes that follow from its name, so that a
download can be compared with the file, and covers for half of them where
Nickel keeps the covers it renders, in .kobo-images.
"""

import argparse
import colorsys
import os
import random
import sqlite3
import struct
import sys
import zlib

# The columns a reader of the library looks at, with Nickel's declared types.
NAMED = [
    ("ContentID", "TEXT NOT NULL"),
    ("ContentType", "TEXT NOT NULL"),
    ("MimeType", "TEXT NOT NULL"),
    ("BookID", "TEXT"),
    ("BookTitle", "TEXT"),
    ("Title", "TEXT COLLATE NOCASE"),
    ("Attribution", "TEXT COLLATE NOCASE"),
    ("Publisher", "TEXT"),
    ("Series", "TEXT"),
    ("SeriesNumber", "TEXT"),
    ("ReadStatus", "INTEGER"),
    ("___PercentRead", "INTEGER"),
    ("DateLastRead", "TEXT"),
    ("DateCreated", "TEXT"),
    ("___FileSize", "INTEGER"),
    ("ImageId", "TEXT"),
    ("IsDownloaded", "BIT NOT NULL DEFAULT 1"),
    ("___UserID", "TEXT NOT NULL"),
    ("Language", "TEXT"),
    ("Description", "TEXT"),
    ("ISBN", "TEXT"),
    ("Subtitle", "TEXT"),
]

# Some of the columns that real firmware has besides, and filler up to well
# over a hundred: nothing may depend on them or on where they stand.
OTHERS = [
    ("___SyncTime", "TEXT"), ("FavouritesIndex", "NUMERIC DEFAULT -1"),
    ("Accessibility", "INT DEFAULT 1"), ("WordCount", "INTEGER DEFAULT -1"),
    ("DateModified", "TEXT"), ("___ExpirationStatus", "INT"), ("Stats", "TEXT"),
    ("ChapterIDBookmarked", "TEXT"), ("adobe_location", "TEXT"), ("VolumeIndex", "INTEGER"),
] + [("___Column%03d" % i, random.Random(i).choice(["TEXT", "INTEGER", "BOOL DEFAULT 0"]))
     for i in range(110)]

MIME = {
    ".epub": "application/epub+zip",
    ".kepub.epub": "application/x-kobo-epub+zip",
    ".pdf": "application/pdf",
    ".cbz": "application/x-cbz",
}

# Nickel's Bookmark table, with the columns that nothing here reads.
BOOKMARK = [
    ("BookmarkID", "TEXT NOT NULL"), ("VolumeID", "TEXT NOT NULL"), ("ContentID", "TEXT NOT NULL"),
    ("StartContainerPath", "TEXT NOT NULL"), ("StartContainerChildIndex", "INTEGER NOT NULL"),
    ("StartOffset", "INTEGER NOT NULL"), ("EndContainerPath", "TEXT NOT NULL"),
    ("EndContainerChildIndex", "INTEGER NOT NULL"), ("EndOffset", "INTEGER NOT NULL"),
    ("Text", "TEXT"), ("Annotation", "TEXT"), ("ExtraAnnotationData", "BLOB"),
    ("DateCreated", "TEXT"), ("ChapterProgress", "REAL NOT NULL DEFAULT 0"),
    ("Hidden", "BOOL NOT NULL DEFAULT 0"), ("Version", "TEXT"), ("DateModified", "TEXT"),
    ("Creator", "TEXT"), ("UUID", "TEXT"), ("UserID", "TEXT"), ("SyncTime", "TEXT"),
    ("Published", "BIT DEFAULT false"), ("ContextString", "TEXT"), ("Type", "TEXT"),
    ("Color", "INTEGER DEFAULT 0"),
]

QUOTES = [
    "It is a truth universally acknowledged, that a single man in possession of a good "
    "fortune, must be in want of a wife.",
    "All happy families are alike; each unhappy family is unhappy in its own way.",
    "Yes; I have tugged and tugged at the heavy lid of the past.",
    "Happiness is only real when shared.",
    "The sea was not a mask. No more was the sky.",
    "Many years later, as he faced the firing squad, Colonel Aureliano Buend\u00eda was to "
    "remember that distant afternoon when his father took him to discover ice.",
]
NOTES = [None, None, "Read this again.", "Compare with chapter one.\nAnd with the letters.",
         "C\u2019est exactement \u00e7a."]
# What a note or a highlight may hold that is no text to a page, a Markdown
# reader or a spreadsheet.
HOSTILE = [
    ("<script>alert('text')</script>", "[x](javascript:alert(1))"),
    ("# heading\n> quoted\n- item", "`code` and *stars* _under_ & <b>bold</b>"),
    ("=HYPERLINK(\"http://evil.example\")", "@SUM(A1)\n+1\n-2"),
]

AUTHORS = ["Jane Austen", "Leo Tolstoy", "Virginia Woolf", "Naguib Mahfouz",
           "村上 春樹", "Amos Oz", "Chimamanda Ngozi Adichie", "Gabriel García Márquez"]
SERIES = ["The Long Voyage", "Salt & Stone", "星の物語", "ثلاثية القاهرة"]
AWKWARD_TITLES = [
    "<script>alert('title')</script>",
    'The "Quoted" Title & Sons',
    "It's <b>bold</b> &amp; brave",
    "السكرية",
    "סיפור על אהבה וחושך",
    "ノルウェイの森",
    "百年孤独",
    "Émile, ou De l'éducation",
    "Emoji 📚 and more",
    "   ",
]
WORDS = ["Garden", "River", "Winter", "Letters", "Night", "House", "Sea", "Light",
         "Journey", "Silence", "Orchard", "Harbour", "Glass", "Window", "Mountain"]


def book_bytes(name, size):
    """The bytes of a book file, from its name: the same on every run."""
    return random.Random(name).randbytes(size)


def image_folders(image_id):
    """The two folders under .kobo-images where Nickel files the covers of
    IMAGE_ID: bytes of a 28-bit hash of it."""
    h = 0
    for byte in image_id.encode("utf-8"):
        h = (h << 4) + byte
        h ^= (h & 0xF0000000) >> 23
        h &= 0x0FFFFFFF
    return "%d" % (h & 0xFF), "%d" % ((h >> 8) & 0xFF)


def cover_png(name, width=150, height=220):
    """A plain cover: a colour that follows from NAME, with a band across."""
    hue = random.Random(name).random()
    colour = bytes(int(c * 255) for c in colorsys.hsv_to_rgb(hue, 0.45, 0.75))
    band = bytes(int(c * 255) for c in colorsys.hsv_to_rgb(hue, 0.6, 0.35))
    rows = b"".join(b"\0" + (band if height // 3 < y < height // 2 else colour) * width
                    for y in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def write_cover(storage, image_id, size):
    folder = os.path.join(storage, ".kobo-images", *image_folders(image_id))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "%s - N3_%s.parsed" % (image_id, size)), "wb") as output:
        output.write(cover_png(image_id))


def iso_date(rng, form):
    year, month, day = rng.randint(2015, 2026), rng.randint(1, 12), rng.randint(1, 28)
    hour, minute, second = rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59)
    base = "%04d-%02d-%02dT%02d:%02d:%02d" % (year, month, day, hour, minute, second)
    return [base + "Z", base + ".%03dZ" % rng.randint(0, 999), base + "+02:00",
            base + ".000+05:30"][form % 4]


def image_id(content_id):
    """Nickel's image id of a book: its ContentID with the characters that
    cannot be in a file name replaced."""
    return content_id.replace("/", "_").replace(":", "_").replace(".", "_").replace(" ", "_")


def title_for(rng, index):
    if index < len(AWKWARD_TITLES):
        return AWKWARD_TITLES[index]
    return " ".join(rng.sample(WORDS, rng.randint(1, 3))) + " %d" % index


def rows(books, rng, storage):
    for index in range(books):
        title = title_for(rng, index)
        sideloaded = index % 3 != 2
        extension = list(MIME)[index % len(MIME)]
        if sideloaded:
            name = "Book %05d%s" % (index, extension)
            content_id = "file:///mnt/onboard/Books/" + name
            size = 2000 + (index * 7919) % 60000
            user = ""
            downloaded = 1
            if storage:
                path = os.path.join(storage, "Books", name)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as output:
                    output.write(book_bytes(name, size))
                # Nickel renders several sizes; some books have only the
                # largest.
                if index % 2 == 0:
                    write_cover(storage, image_id(content_id),
                                "LIBRARY_FULL" if index % 8 == 4 else "LIBRARY_GRID")
        else:
            content_id = "%08x-%04x-4%03x-a%03x-%012x" % (
                rng.getrandbits(32), rng.getrandbits(16), rng.getrandbits(12),
                rng.getrandbits(12), rng.getrandbits(48))
            extension = ".kepub.epub"
            size = rng.randint(100000, 900000)
            user = "f2c1b7e0-account"
            # Bought, listed, but not on the reader.
            downloaded = 0 if index % 6 == 5 else 1
        status = rng.choice([0, 0, 1, 2])
        read = {0: 0, 1: rng.randint(1, 99), 2: 100}[status]
        last_read = None if status == 0 else iso_date(rng, index)
        if status == 0 and index % 5 == 0:
            last_read = ""
        in_series = index % 4 == 0
        book = {
            "ContentID": content_id, "ContentType": "6", "MimeType": MIME[extension],
            "BookID": None, "BookTitle": None, "Title": title,
            "Attribution": None if index % 7 == 3 else ("" if index % 11 == 4 else
                                                         rng.choice(AUTHORS)),
            "Publisher": rng.choice([None, "Penguin", "Gallimard"]),
            "Series": rng.choice(SERIES) if in_series else rng.choice([None, ""]),
            "SeriesNumber": rng.choice(["1", "2", "2.5", "10"]) if in_series else None,
            "ReadStatus": status, "___PercentRead": read,
            "DateLastRead": last_read, "DateCreated": iso_date(rng, index + 1),
            "___FileSize": size, "ImageId": image_id(content_id),
            "IsDownloaded": downloaded, "___UserID": user,
            "Language": rng.choice(["en", "fr", "ar", "he", "ja", None]),
            "Description": None if index % 2 else "<p>A description with <i>markup</i>.</p>",
            "ISBN": None, "Subtitle": None,
        }
        yield dict(book, VolumeIndex=-1)
        for chapter in range(3 if index % 10 == 0 else 0):
            yield dict(book, ContentID="%s#chapter%d" % (content_id, chapter),
                       ContentType="9", BookID=content_id, BookTitle=title,
                       Title="Chapter %d" % (chapter + 1), ___FileSize=0, VolumeIndex=chapter)


def bookmarks(content_id, index, rng):
    """The highlights, notes and bookmarks of the book at INDEX, in the
    order Nickel happened to write them."""
    marks = []

    def mark(chapter, progress, offset, text, note, kind, hidden=False, date_form=0):
        marks.append({
            "BookmarkID": "%08x-%04x-4000-8000-%012x" % (
                rng.getrandbits(32), rng.getrandbits(16), rng.getrandbits(48)),
            "VolumeID": content_id, "ContentID": "%s#chapter%d" % (content_id, chapter),
            "StartContainerPath": "span#kobo\\.%d\\.1" % offset, "StartContainerChildIndex": -99,
            "StartOffset": offset, "EndContainerPath": "span#kobo\\.%d\\.2" % offset,
            "EndContainerChildIndex": -99, "EndOffset": offset + 40, "Text": text,
            "Annotation": note, "ExtraAnnotationData": None,
            "DateCreated": iso_date(rng, date_form), "ChapterProgress": progress,
            "Hidden": ["true", 1][date_form % 2] if hidden else ["false", 0][date_form % 2],
            "Version": None, "DateModified": iso_date(rng, date_form + 1), "Creator": None,
            "UUID": None, "UserID": "f2c1b7e0-account", "SyncTime": None,
            "Published": "false", "ContextString": None, "Type": kind, "Color": rng.randint(0, 3),
        })

    for n in range(6):
        chapter = n % 3
        note = NOTES[n % len(NOTES)]
        mark(chapter, 0.1 + 0.15 * (n // 3), 10 * n, QUOTES[(index + n) % len(QUOTES)], note,
             "note" if note else "highlight", date_form=n)
    if index == 0:
        for n, (text, note) in enumerate(HOSTILE):
            mark(1, 0.5 + 0.1 * n, 500 + n, text, note, "note")
    # Older firmware leaves the type NULL.
    mark(2, 0.9, 900, QUOTES[0], None, None)
    mark(0, 0.3, 300, "Deleted on the reader, not yet synced.", None, "highlight", hidden=True)
    mark(0, 0.35, 350, "Deleted too.", "a note", "note", hidden=True, date_form=1)
    mark(1, 0.2, 200, None, None, "dogear")
    mark(1, 0.25, 250, "", "", None)
    rng.shuffle(marks)
    return marks


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("database")
    parser.add_argument("books", type=int)
    parser.add_argument("--storage", help="write the files of sideloaded books under this folder")
    parser.add_argument("--seed", type=int, default=1)
    arguments = parser.parse_args()

    rng = random.Random(arguments.seed)
    columns = NAMED + OTHERS
    rng.shuffle(columns)
    if os.path.exists(arguments.database):
        os.remove(arguments.database)
    database = sqlite3.connect(arguments.database)
    database.execute("CREATE TABLE content (%s, PRIMARY KEY (ContentID))" %
                     ", ".join("%s %s" % column for column in columns))
    database.execute("CREATE TABLE Bookmark (%s, PRIMARY KEY (BookmarkID))" %
                     ", ".join("%s %s" % column for column in BOOKMARK))
    database.execute("CREATE TABLE user (UserID TEXT NOT NULL, UserKey TEXT NOT NULL, "
                     "UserDisplayName TEXT, UserEmail TEXT, ___DeviceID TEXT, AuthToken TEXT, "
                     "RefreshToken TEXT, KoboAccessToken TEXT, PRIMARY KEY (UserID))")
    database.execute("INSERT INTO user VALUES ('f2c1b7e0-account', 'key', 'Owner', "
                     "'owner@example.com', 'device', 'SECRET-AUTH-TOKEN', 'SECRET-REFRESH-TOKEN', "
                     "'SECRET-ACCESS-TOKEN')")
    database.execute("CREATE TABLE Shelf (Id TEXT, Name TEXT, _IsDeleted BOOL)")
    database.execute("CREATE TABLE ShelfContent (ShelfName TEXT, ContentId TEXT)")
    names = [name for name, _ in NAMED] + ["VolumeIndex"]
    content = list(rows(arguments.books, rng, arguments.storage))
    database.executemany(
        "INSERT INTO content (%s) VALUES (%s)" % (", ".join(names), ", ".join("?" * len(names))),
        ([row[name] for name in names] for row in content))
    marks = [mark for index, book in enumerate(row for row in content if row["ContentType"] == "6")
             if index % 10 == 0 for mark in bookmarks(book["ContentID"], index, rng)]
    names = [name for name, _ in BOOKMARK]
    database.executemany(
        "INSERT INTO Bookmark (%s) VALUES (%s)" % (", ".join(names), ", ".join("?" * len(names))),
        ([row[name] for name in names] for row in marks))
    database.commit()
    database.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
