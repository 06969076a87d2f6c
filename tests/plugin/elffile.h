#pragma once

#include <QByteArray>
#include <QMap>
#include <QStringList>

// Reads what a test needs from an ELF shared object without loading it:
// the bytes of a named section, and the names of the defined dynamic symbols.
class ElfFile {
public:
    explicit ElfFile(const QString &path);

    bool isValid() const { return valid; }
    QByteArray section(const QByteArray &name) const;
    QStringList exportedSymbols() const;

private:
    template <class Ehdr, class Shdr, class Sym> void parse();

    QByteArray data;
    bool valid = false;
    QMap<QByteArray, QByteArray> sections;
    QStringList exports;
};
