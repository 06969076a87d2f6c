// phone/: zorvid-phone, the command that plays the other device of a pairing.

// zorvid-phone: plays the other device of a pairing. Given the address from
// a pairing offer (or the QR symbol's, with the code in its fragment), a
// code and a name, it submits them and prints what the daemon said.

#include "pairingsubmission.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

const char details[] = R"(
The code comes from --code, or else from the address's fragment
(http://127.0.0.1:PORT/pair#CODE, as the QR symbol holds it).

Exit status: 0 paired; 1 refused (wrong code, no offer waiting, bad input);
2 bad options; 3 no answer from the address.
)";

void say(const QString &line)
{
    std::fprintf(stdout, "%s\n", qPrintable(line));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Pairs a device with zorvid, as a phone would."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption name(QStringLiteral("name"), QStringLiteral("The device's name."),
                                  QStringLiteral("NAME"));
    const QCommandLineOption code(QStringLiteral("code"), QStringLiteral("The pairing code."),
                                  QStringLiteral("CODE"));
    const QCommandLineOption timeout(
        QStringLiteral("timeout"),
        QStringLiteral("How long to wait for the answer (default 5000)."), QStringLiteral("MS"),
        QStringLiteral("5000"));
    for (const QCommandLineOption &option : {help, name, code, timeout})
        parser.addOption(option);
    parser.addPositionalArgument(QStringLiteral("ADDRESS"), QStringLiteral("The offer's address."));

    if (!parser.parse(app.arguments())) {
        std::fprintf(stderr, "zorvid-phone: %s (see --help)\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        std::fputs(details, stdout);
        return 0;
    }
    const QUrl address(parser.positionalArguments().value(0), QUrl::StrictMode);
    const QString typed = parser.isSet(code) ? parser.value(code) : address.fragment();
    bool timeoutValid = false;
    const int timeoutMs = parser.value(timeout).toInt(&timeoutValid);
    if (parser.positionalArguments().size() != 1 || !address.isValid() ||
        address.scheme() != QLatin1String("http") || !parser.isSet(name) || !timeoutValid ||
        timeoutMs <= 0) {
        std::fprintf(stderr,
                     "zorvid-phone: usage: zorvid-phone --name NAME [--code CODE] ADDRESS\n");
        return 2;
    }
    if (typed.isEmpty()) {
        std::fprintf(stderr, "zorvid-phone: no code: give --code or an address ending in #CODE\n");
        return 2;
    }

    const PairingSubmission::Result result =
        PairingSubmission::send(address, typed, parser.value(name), timeoutMs);
    const QString error = result.body.value(QLatin1String("error")).toString();
    switch (result.status) {
    case 0:
        say(QStringLiteral("no answer from %1: %2")
                .arg(address.toString(QUrl::RemoveFragment), result.failure));
        return 3;
    case 200:
        say(QStringLiteral("paired as %1 (id %2)")
                .arg(result.body.value(QLatin1String("name")).toString(),
                     result.body.value(QLatin1String("id")).toString()));
        return 0;
    case 403:
        say(QStringLiteral("%1, %2 attempts left")
                .arg(error,
                     QString::number(result.body.value(QLatin1String("attempts_left")).toInt())));
        return 1;
    case 410:
        say(QStringLiteral("%1 (%2)").arg(error,
                                          result.body.value(QLatin1String("state")).toString()));
        return 1;
    default:
        say(QStringLiteral("refused with status %1: %2").arg(result.status).arg(error));
        return 1;
    }
}
