#include "Cli.h"

#include "ControlContract.h"

#include <QRegularExpression>

#include <algorithm>
#include <array>

namespace morvane::cli {

namespace {

// The flags, with whether each takes a value: required, optional (--preferences) or none.
enum class Value { none, required, optional };

struct Flag {
    const char* name;
    Action action;
    Value value;
};

constexpr std::array kFlags{
    Flag{"--help", Action::help, Value::none},
    Flag{"-h", Action::help, Value::none},
    Flag{"--version", Action::version, Value::none},
    Flag{"--on", Action::on, Value::none},
    Flag{"--off", Action::off, Value::none},
    Flag{"--toggle", Action::toggle, Value::none},
    Flag{"--for", Action::activateFor, Value::required},
    Flag{"--until", Action::activateUntil, Value::required},
    Flag{"--pause", Action::pause, Value::required},
    Flag{"--cancel", Action::cancel, Value::none},
    Flag{"--status", Action::status, Value::none},
    Flag{"--diagnose", Action::diagnose, Value::none},
    Flag{"--preferences", Action::preferences, Value::optional},
    Flag{"--quit", Action::quit, Value::none},
};

QString quoted(const QString& text) {
    return QStringLiteral("«") + text + QStringLiteral("»");
}

Parsed failure(const QString& error, bool showUsage = false) {
    return Parsed{{}, error, showUsage};
}

// Checks the value of a command flag and stores it in `request`; an error line otherwise.
QString takeValue(Request& request, const QString& value) {
    switch (request.action) {
    case Action::activateFor:
    case Action::pause:
        if (const auto seconds = parseDuration(value)) {
            request.seconds = *seconds;
            return {};
        }
        return QStringLiteral("duración no válida: ") + quoted(value) +
               QStringLiteral(" (por ejemplo 90s, 15m, 1h30m o 2h)");
    case Action::activateUntil:
        if (const auto minutes = parseTimeOfDay(value)) {
            request.minuteOfDay = *minutes;
            return {};
        }
        return QStringLiteral("hora no válida: ") + quoted(value) +
               QStringLiteral(" (por ejemplo 18:00 o 8:05)");
    case Action::preferences:
        if (contract::parseTab(value)) {
            request.tab = value;
            return {};
        }
        return contract::unknownTab(value);
    default:
        return {};
    }
}

} // namespace

std::optional<qint64> parseDuration(const QString& text) {
    // Each unit at most once and in this order; the digits may be as many as anyone types, the
    // total is cut to the longest allowed duration.
    static const QRegularExpression form(QStringLiteral("^(?:([0-9]+)h)?(?:([0-9]+)m)?(?:([0-9]+)s)?$"));
    const QRegularExpressionMatch m = form.match(text);
    if (text.isEmpty() || !m.hasMatch())
        return std::nullopt;
    constexpr std::array<double, 3> unit{3600, 60, 1};
    double total = 0;
    for (int i = 0; i < 3; ++i) {
        double count = 0;
        for (const QChar digit : m.capturedView(i + 1))
            count = std::min(count * 10 + digit.digitValue(), kMaxSeconds);
        total += count * unit[std::size_t(i)];
    }
    if (!(total > 0))
        return std::nullopt;
    return qint64(std::min(total, kMaxSeconds));
}

std::optional<int> parseTimeOfDay(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,2}):([0-9]{2})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int hours = m.captured(1).toInt();
    const int minutes = m.captured(2).toInt();
    if (hours > 23 || minutes > 59)
        return std::nullopt;
    return hours * 60 + minutes;
}

Parsed parse(const QStringList& arguments) {
    if (arguments.isEmpty() || arguments.contains(QStringLiteral("--snapshot")))
        return {};
    // Qt's own options (-platform, -session, -display …) still start the application.
    const QString& first = arguments.first();
    if (first.startsWith(QLatin1Char('-')) && !first.startsWith(QLatin1String("--")) &&
        first != QLatin1String("-h"))
        return {};

    // "--for=30m" is the same as "--for 30m".
    const qsizetype equals = first.startsWith(QLatin1String("--")) ? first.indexOf(QLatin1Char('=')) : -1;
    const QString name = equals < 0 ? first : first.left(equals);
    const auto flag = std::find_if(kFlags.begin(), kFlags.end(),
                                   [&](const Flag& f) { return name == QLatin1String(f.name); });
    if (flag == kFlags.end())
        return failure((first.startsWith(QLatin1Char('-')) ? QStringLiteral("opción desconocida: ")
                                                           : QStringLiteral("argumento inesperado: ")) +
                           quoted(first),
                       true);

    Parsed parsed;
    parsed.request.action = flag->action;
    QStringList rest = arguments.mid(1);
    std::optional<QString> value;
    if (equals >= 0)
        value = first.mid(equals + 1);
    else if (flag->value != Value::none && !rest.isEmpty() && !rest.first().startsWith(QLatin1String("--")))
        value = rest.takeFirst();

    if (value && flag->value == Value::none)
        return failure(QStringLiteral("%1 no lleva valor").arg(name), true);
    if (!value && flag->value == Value::required)
        return failure(QStringLiteral("%1 necesita un valor").arg(name), true);
    if (!rest.isEmpty())
        return failure(
            QStringLiteral("sobra ") + quoted(rest.first()) + QStringLiteral(": una orden por vez"), true);
    if (value) {
        const QString error = takeValue(parsed.request, *value);
        if (!error.isEmpty())
            return failure(error);
    }
    return parsed;
}

QString usage() {
    return QStringLiteral(
        "Uso: morvane [ORDEN]\n"
        "\n"
        "Sin orden, inicia Morvane (o abre el panel del que ya está en marcha).\n"
        "Las órdenes actúan sobre el Morvane que está en marcha:\n"
        "\n"
        "  --on                  activar\n"
        "  --off                 desactivar\n"
        "  --toggle              activar o desactivar\n"
        "  --for DURACIÓN        activar durante DURACIÓN (90s, 15m, 1h30m, 2h)\n"
        "  --until HH:MM         activar hasta la próxima vez que sea esa hora (18:00, 8:05)\n"
        "  --pause DURACIÓN      pausar durante DURACIÓN\n"
        "  --cancel              cancelar temporizadores, pausas y encendidos programados\n"
        "  --status              mostrar el estado, los temporizadores y si la sesión registra\n"
        "                        los movimientos\n"
        "  --diagnose            informe para pegar en un reporte de error (sin Morvane en marcha,\n"
        "                        prueba la sesión por su cuenta)\n"
        "  --preferences [PESTAÑA]\n"
        "                        abrir las preferencias (general, movimiento, condiciones, horarios)\n"
        "  --quit                salir de Morvane\n"
        "  --snapshot DIR [--dark]\n"
        "                        guardar imágenes de la interfaz en DIR y salir\n"
        "  --version             mostrar la versión\n"
        "  -h, --help            mostrar esta ayuda\n"
        "\n"
        "Códigos de salida: 0 hecho, 1 Morvane respondió con un error, 2 orden o valor no válido,\n"
        "3 Morvane no está en marcha, 4 el diagnóstico encontró algo que no funciona.\n");
}

} // namespace morvane::cli
