#include "ui/texttable.h"

#include <QDate>
#include <QLocale>

#include <cstring>

// The rows live one language to a file in texts/, in the key order of
// textKeys; this file only puts them in row order.

namespace zorvi {

const char *const languageCodes[languageCount] = {
    "en",    "ar", "cs", "da", "de", "el", "es", "fi", "fr",      "he",
    "hi",    "hu", "id", "it", "ja", "ko", "nb", "nl", "pl",      "pt",
    "pt-BR", "ro", "ru", "sv", "th", "tr", "uk", "vi", "zh-Hans", "zh-Hant",
};

const char *const dateFormats[languageCount] = {
    "MMMM d, yyyy",          // en
    "d MMMM yyyy",           // ar
    "d. MMMM yyyy",          // cs
    "'den' d. MMMM yyyy",    // da
    "d. MMMM yyyy",          // de
    "d MMMM yyyy",           // el
    "d 'de' MMMM 'de' yyyy", // es
    "d. MMMM yyyy",          // fi
    "d MMMM yyyy",           // fr
    "d בMMMM yyyy",          // he
    "d MMMM yyyy",           // hi
    "yyyy. MMMM d.",         // hu
    "dd MMMM yyyy",          // id
    "d MMMM yyyy",           // it
    "yyyy年M月d日",          // ja
    "yyyy년 M월 d일",        // ko
    "d. MMMM yyyy",          // nb
    "d MMMM yyyy",           // nl
    "d MMMM yyyy",           // pl
    "d 'de' MMMM 'de' yyyy", // pt
    "d 'de' MMMM 'de' yyyy", // pt-BR
    "d MMMM yyyy",           // ro
    "d MMMM yyyy 'г'.",      // ru
    "d MMMM yyyy",           // sv
    "d MMMM yyyy",           // th
    "d MMMM yyyy",           // tr
    "d MMMM yyyy 'р'.",      // uk
    "d 'tháng' M, yyyy",     // vi
    "yyyy年M月d日",          // zh-Hans
    "yyyy年M月d日",          // zh-Hant
};

const char *const textKeys[textCount] = {
    "connectDevice",
    "connectedDevices",
    "close",
    "done",
    "back",
    "cancel",
    "disconnect",
    "homeReady",
    "homeOffline",
    "codeUnavailable",
    "scanOrOpen",
    "openAddress",
    "validMinutes",
    "deviceConnectedTitle",
    "deviceConnectedMessage",
    "codeExpiredTitle",
    "codeExpiredMessage",
    "devicesIntro",
    "devicesEmpty",
    "devicesUnavailable",
    "connectedOn",
    "disconnectQuestion",
    "disconnectExplanation",
    "updateReady",
    "restartToUpdate",
    "checkUpdates",
    "checkingUpdates",
    "downloadingUpdate",
    "upToDate",
    "updateBlocked",
    "updateCheckFailed",
    "previousPage",
    "nextPage",
};

const char *const textTable[languageCount][textCount] = {
    {
#include "texts/en.inc"
    },
    {
#include "texts/ar.inc"
    },
    {
#include "texts/cs.inc"
    },
    {
#include "texts/da.inc"
    },
    {
#include "texts/de.inc"
    },
    {
#include "texts/el.inc"
    },
    {
#include "texts/es.inc"
    },
    {
#include "texts/fi.inc"
    },
    {
#include "texts/fr.inc"
    },
    {
#include "texts/he.inc"
    },
    {
#include "texts/hi.inc"
    },
    {
#include "texts/hu.inc"
    },
    {
#include "texts/id.inc"
    },
    {
#include "texts/it.inc"
    },
    {
#include "texts/ja.inc"
    },
    {
#include "texts/ko.inc"
    },
    {
#include "texts/nb.inc"
    },
    {
#include "texts/nl.inc"
    },
    {
#include "texts/pl.inc"
    },
    {
#include "texts/pt.inc"
    },
    {
#include "texts/pt-BR.inc"
    },
    {
#include "texts/ro.inc"
    },
    {
#include "texts/ru.inc"
    },
    {
#include "texts/sv.inc"
    },
    {
#include "texts/th.inc"
    },
    {
#include "texts/tr.inc"
    },
    {
#include "texts/uk.inc"
    },
    {
#include "texts/vi.inc"
    },
    {
#include "texts/zh-Hans.inc"
    },
    {
#include "texts/zh-Hant.inc"
    },
};

QString writtenDate(const QLocale &locale, int row, const QDate &date)
{
    if (date.day() == 1 && std::strcmp(languageCodes[row], "fr") == 0)
        return locale.toString(date, QStringLiteral("'1er' MMMM yyyy"));
    return locale.toString(date, QString::fromUtf8(dateFormats[row]));
}

int languageIndex(const QString &code)
{
    for (int row = 0; row < languageCount; ++row) {
        if (code.compare(QLatin1String(languageCodes[row]), Qt::CaseInsensitive) == 0)
            return row;
    }
    return -1;
}

int languageForLocale(const QString &locale)
{
    QString code = locale;
    code.replace(QLatin1Char('_'), QLatin1Char('-'));
    // Compared without regard to case rather than lowered: QString's
    // lowering goes through helpers that Qt 5.2 does not have.
    const QString lang = code.section(QLatin1Char('-'), 0, 0);
    const auto is = [&lang](const char *name) {
        return lang.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
    };

    if (is("zh")) {
        const QString rest = code.mid(lang.size());
        const bool traditional = rest.contains(QLatin1String("TW"), Qt::CaseInsensitive) ||
                                 rest.contains(QLatin1String("HK"), Qt::CaseInsensitive) ||
                                 rest.contains(QLatin1String("MO"), Qt::CaseInsensitive) ||
                                 rest.contains(QLatin1String("Hant"), Qt::CaseInsensitive);
        return languageIndex(QString::fromLatin1(traditional ? "zh-Hant" : "zh-Hans"));
    }
    if (is("no") || is("nn"))
        return languageIndex(QStringLiteral("nb"));
    // Older names of Hebrew and Indonesian, still sent by some systems.
    if (is("iw"))
        return languageIndex(QStringLiteral("he"));
    if (is("in"))
        return languageIndex(QStringLiteral("id"));
    if (code.compare(QLatin1String("pt-PT"), Qt::CaseInsensitive) == 0)
        return languageIndex(QStringLiteral("pt"));

    const int row = languageIndex(code);
    return row >= 0 ? row : languageIndex(lang);
}

} // namespace zorvi
