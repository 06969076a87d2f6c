#include "elffile.h"

#include <QFile>

#include <elf.h>

ElfFile::ElfFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    data = file.readAll();
    if (data.size() < EI_NIDENT || !data.startsWith(ELFMAG))
        return;
    if (data.at(EI_CLASS) == ELFCLASS64)
        parse<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym>();
    else if (data.at(EI_CLASS) == ELFCLASS32)
        parse<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym>();
}

QByteArray ElfFile::section(const QByteArray &name) const
{
    return sections.value(name);
}

QStringList ElfFile::exportedSymbols() const
{
    return exports;
}

template <class Ehdr, class Shdr, class Sym> void ElfFile::parse()
{
    auto in = [this](quint64 offset, quint64 size) {
        return offset <= quint64(data.size()) && size <= quint64(data.size()) - offset;
    };
    if (!in(0, sizeof(Ehdr)))
        return;
    const auto *header = reinterpret_cast<const Ehdr *>(data.constData());
    if (header->e_shentsize != sizeof(Shdr) ||
        !in(header->e_shoff, quint64(header->e_shnum) * sizeof(Shdr)) ||
        header->e_shstrndx >= header->e_shnum)
        return;
    const auto *table = reinterpret_cast<const Shdr *>(data.constData() + header->e_shoff);
    const Shdr &names = table[header->e_shstrndx];
    if (!in(names.sh_offset, names.sh_size))
        return;

    auto contents = [&](const Shdr &s) {
        return s.sh_type == SHT_NOBITS || !in(s.sh_offset, s.sh_size)
                   ? QByteArray()
                   : data.mid(int(s.sh_offset), int(s.sh_size));
    };
    const QByteArray nameTable = contents(names);
    for (int i = 0; i < header->e_shnum; ++i) {
        const Shdr &s = table[i];
        if (s.sh_name >= quint64(nameTable.size()))
            return;
        sections.insert(QByteArray(nameTable.constData() + s.sh_name), contents(s));

        if (s.sh_type != SHT_DYNSYM || s.sh_link >= header->e_shnum)
            continue;
        const QByteArray symbols = contents(s);
        const QByteArray strings = contents(table[s.sh_link]);
        for (int at = 0; at + int(sizeof(Sym)) <= symbols.size(); at += sizeof(Sym)) {
            Sym sym;
            memcpy(&sym, symbols.constData() + at, sizeof sym);
            const int binding = sym.st_info >> 4;
            if (sym.st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK) ||
                sym.st_name >= quint64(strings.size()))
                continue;
            exports << QString::fromLatin1(strings.constData() + sym.st_name);
        }
    }
    valid = true;
}
