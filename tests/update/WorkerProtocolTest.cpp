// What the application and its updater worker say to each other: every request and event comes
// through a line unchanged, and a line that is not one of them is refused.

#include "WorkerProtocol.h"

#include <gtest/gtest.h>

using namespace morvane;

namespace {

TEST(WorkerProtocol, RequestsAndEventsSurviveTheirLineAndNothingElseReads) {
    WorkerRequest install;
    install.kind = WorkerRequest::Kind::install;
    install.url = QUrl(QStringLiteral("https://h/Morvane 1.5.zip?a=b"));
    install.caCertificates = "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n";
    install.maxBytes = qint64(1) << 40;
    install.info = {QStringLiteral("1.5.0"),
                    9007199254740993,
                    QStringLiteral("https://h/a.zip"),
                    QStringLiteral("AB"),
                    QStringLiteral("c2ln"),
                    QStringLiteral("Línea\n\"dos\""),
                    {}};
    install.running = {
        QStringLiteral("/opt/ñ/Morvane.app"), QStringLiteral("1.4.2"), -57, {}, QStringLiteral("k=")};
    install.limits = {qint64(3) << 33, 7, 9};
    WorkerRequest check;
    check.url = QUrl(QStringLiteral("https://h/appcast.json"));
    for (const WorkerRequest& r : {install, check}) {
        const QByteArray line = r.toLine();
        EXPECT_EQ(line.count('\n'), 1);
        EXPECT_EQ(WorkerRequest::fromLine(line), r) << line.toStdString();
    }

    std::vector<WorkerEvent> events(7);
    events[0].kind = WorkerEvent::Kind::feed;
    events[0].feed = QByteArray("{\"build\":58}\n\0\xff", 15);
    events[1].kind = WorkerEvent::Kind::feed; // a failed transfer
    events[2].kind = WorkerEvent::Kind::step;
    events[2].step = InstallStep::removingOld;
    events[3].kind = WorkerEvent::Kind::installing;
    events[4].text = QStringLiteral("No se pudo reemplazar la app: Permission denied");
    events[5].kind = WorkerEvent::Kind::installed;
    events[6].kind = WorkerEvent::Kind::size;
    events[6].size = qint64(1) << 40;
    for (const WorkerEvent& e : events)
        EXPECT_EQ(WorkerEvent::fromLine(e.toLine()), e) << e.toLine().toStdString();

    const char* const refused[] = {
        "",
        "garbage",
        "[]",
        R"({"step":"sideways"})",
        R"({"feed":"not*base64"})",
        R"({"feed":5})",
        R"({"failed":1})",
        R"({"installed":false})",
        R"({"size":-1})",
        R"({"step":"swapped","failed":"x"})",
        R"({"kind":"upgrade","url":"u","ca":"","timeoutMs":1,"maxBytes":1})",
        R"({"kind":"check","url":"u","ca":"","timeoutMs":-1,"maxBytes":1})",
        R"({"kind":"check","url":"u","ca":"","timeoutMs":1})",
        R"({"kind":"install","url":"u","ca":"","timeoutMs":1,"maxBytes":1})", // no info, bundle, limits
    };
    for (const char* line : refused) {
        EXPECT_FALSE(WorkerEvent::fromLine(line)) << line;
        EXPECT_FALSE(WorkerRequest::fromLine(line)) << line;
    }
}

} // namespace
