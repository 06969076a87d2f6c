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
        yield book
        for chapter in range(2 if index % 10 == 0 else 0):
            yield dict(book, ContentID="%s#chapter%d" % (content_id, chapter),
                       ContentType="9", BookID=content_id, BookTitle=title,
                       Title="Chapter %d" % (chapter + 1), ___FileSize=0)


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
    database.execute("CREATE TABLE Shelf (Id TEXT, Name TEXT, _IsDeleted BOOL)")
    database.execute("CREATE TABLE ShelfContent (ShelfName TEXT, ContentId TEXT)")
    names = [name for name, _ in NAMED]
    database.executemany(
        "INSERT INTO content (%s) VALUES (%s)" % (", ".join(names), ", ".join("?" * len(names))),
        ([row[name] for name in names] for row in rows(arguments.books, rng, arguments.storage)))
    database.commit()
    database.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
