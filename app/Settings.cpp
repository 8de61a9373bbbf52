#include "app/Settings.h"

#include "link/NetworkPortName.h"
#include "link/PortDiscovery.h"
#include "link/SerialPort.h"

#include <QCoreApplication>
#include <QSettings>

namespace tessor {

namespace {

QSettings Store() {
    return QSettings(QStringLiteral("Calvadra"), QCoreApplication::applicationName());
}

std::uint8_t ByteSetting(const QSettings& store, const QString& key, int fallback) {
    bool ok = false;
    const int value = store.value(key, fallback).toInt(&ok);
    return static_cast<std::uint8_t>(ok ? value : fallback);
}

} // namespace

StartupChoices ReadStartupChoices() {
    const QSettings store = Store();
    StartupChoices choices;
    choices.crystalIndex = ByteSetting(store, QStringLiteral("Settings/Frequency"), 2);
    choices.portIndex = ByteSetting(store, QStringLiteral("Settings/Port"), 0);
    return choices;
}

void WriteStartupChoices(const StartupChoices& choices) {
    QSettings store = Store();
    store.setValue(QStringLiteral("Settings/Frequency"), choices.crystalIndex);
    store.setValue(QStringLiteral("Settings/Port"), choices.portIndex);
}

std::string StoredComDevice(int n) {
    const QSettings store = Store();
    return store.value(QStringLiteral("Ports/COM%1").arg(n)).toString().toStdString();
}

void StoreComDevice(int n, const std::string& path) {
    QSettings store = Store();
    const QString key = QStringLiteral("Ports/COM%1").arg(n);
    if (path.empty())
        store.remove(key);
    else
        store.setValue(key, QString::fromStdString(path));
}

LineTestChoices ReadLineTestChoices() {
    const QSettings store = Store();
    LineTestChoices c;
    const linetest::Criteria defaults;
    c.durationMinutes = qBound(1, store.value(QStringLiteral("LineTest/Duration"), 15).toInt(), 24 * 60);
    c.site = store.value(QStringLiteral("LineTest/Site")).toString();
    c.operatorName = store.value(QStringLiteral("LineTest/Operator")).toString();
    // A threshold that is not a number the criterion accepts gives its default, never a made-up limit.
    bool ok = false;
    const int minSnrCenti = store.value(QStringLiteral("LineTest/MinSnrCenti")).toInt(&ok);
    c.criteria.minSnrCenti =
        ok && linetest::MinSnrDbAccepted(minSnrCenti / 100.0) ? minSnrCenti : defaults.minSnrCenti;
    const double maxRs = store.value(QStringLiteral("LineTest/MaxRsPerSecond")).toDouble(&ok);
    c.criteria.maxRsPerSecond =
        ok && linetest::MaxRsPerSecondAccepted(maxRs) ? maxRs : defaults.maxRsPerSecond;
    c.criteria.checkSnr = store.value(QStringLiteral("LineTest/CheckSnr"), true).toBool();
    c.criteria.checkLineDrop = store.value(QStringLiteral("LineTest/CheckLineDrop"), true).toBool();
    c.criteria.checkLinkFail = store.value(QStringLiteral("LineTest/CheckLinkFail"), true).toBool();
    c.criteria.checkRs = store.value(QStringLiteral("LineTest/CheckRs"), true).toBool();
    c.criteria.checkEthernetErrors =
        store.value(QStringLiteral("LineTest/CheckEthernetErrors"), true).toBool();
    const double maxEsr = store.value(QStringLiteral("LineTest/MaxEsrPercent")).toDouble(&ok);
    c.criteria.maxEsrPercent = ok && linetest::RatioPercentAccepted(maxEsr) ? maxEsr : defaults.maxEsrPercent;
    const double maxSesr = store.value(QStringLiteral("LineTest/MaxSesrPercent")).toDouble(&ok);
    c.criteria.maxSesrPercent =
        ok && linetest::RatioPercentAccepted(maxSesr) ? maxSesr : defaults.maxSesrPercent;
    const double severe = store.value(QStringLiteral("LineTest/SevereErrorPercent")).toDouble(&ok);
    c.criteria.intervalRules.severeErrorPpm =
        ok ? SevereErrorPpmOfPercent(severe).value_or(defaults.intervalRules.severeErrorPpm)
           : defaults.intervalRules.severeErrorPpm;
    c.criteria.checkUnavailable = store.value(QStringLiteral("LineTest/CheckUnavailable"), true).toBool();
    c.criteria.checkEsr = store.value(QStringLiteral("LineTest/CheckEsr"), true).toBool();
    c.criteria.checkSesr = store.value(QStringLiteral("LineTest/CheckSesr"), true).toBool();
    return c;
}

void WriteLineTestChoices(const LineTestChoices& c) {
    QSettings store = Store();
    store.setValue(QStringLiteral("LineTest/Duration"), c.durationMinutes);
    store.setValue(QStringLiteral("LineTest/Site"), c.site);
    store.setValue(QStringLiteral("LineTest/Operator"), c.operatorName);
    store.setValue(QStringLiteral("LineTest/MinSnrCenti"), c.criteria.minSnrCenti);
    store.setValue(QStringLiteral("LineTest/MaxRsPerSecond"), c.criteria.maxRsPerSecond);
    store.setValue(QStringLiteral("LineTest/CheckSnr"), c.criteria.checkSnr);
    store.setValue(QStringLiteral("LineTest/CheckLineDrop"), c.criteria.checkLineDrop);
    store.setValue(QStringLiteral("LineTest/CheckLinkFail"), c.criteria.checkLinkFail);
    store.setValue(QStringLiteral("LineTest/CheckRs"), c.criteria.checkRs);
    store.setValue(QStringLiteral("LineTest/CheckEthernetErrors"), c.criteria.checkEthernetErrors);
    store.setValue(QStringLiteral("LineTest/MaxEsrPercent"), c.criteria.maxEsrPercent);
    store.setValue(QStringLiteral("LineTest/MaxSesrPercent"), c.criteria.maxSesrPercent);
    store.setValue(QStringLiteral("LineTest/SevereErrorPercent"), linetest::SevereErrorPercent(c.criteria));
    store.setValue(QStringLiteral("LineTest/CheckUnavailable"), c.criteria.checkUnavailable);
    store.setValue(QStringLiteral("LineTest/CheckEsr"), c.criteria.checkEsr);
    store.setValue(QStringLiteral("LineTest/CheckSesr"), c.criteria.checkSesr);
}

QString PortProblemDetail(std::uint8_t portIndex, int errorCode) {
    if (portIndex > 2)
        return QStringLiteral("\n\nThe stored port choice %1 names no COM port.").arg(portIndex);
    const QString com = QStringLiteral("COM%1").arg(portIndex + 1);
    const std::string device = ResolveComName(com.toStdString(), &StoredComDevice);
    QString text = QStringLiteral("\n\n%1 is %2: %3.")
                       .arg(com, QString::fromStdString(device),
                            QString::fromLocal8Bit(SystemErrorMessage(errorCode).c_str()));
    if (IsNetworkPortName(device))
        return text + QLatin1Char('\n') + QString::fromStdString(NetworkOpenAdvice());
    switch (ClassifyOpenError(errorCode)) {
    case OpenFailure::Forbidden:
        text += QLatin1Char('\n') + QString::fromStdString(PermissionAdvice(OwningGroup(device)));
        break;
    case OpenFailure::Missing:
        text +=
            QStringLiteral("\nSet the environment variable TESSOR_%1, or the setting Ports/%1, to the device "
                           "of your adapter (%2).")
                .arg(com, QString::fromStdString(AdapterNameHint()));
        break;
    case OpenFailure::Busy:
        text += QStringLiteral("\nAnother program has the device open.");
        break;
    case OpenFailure::Other:
        break;
    }
    return text;
}

} // namespace tessor
