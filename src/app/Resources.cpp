#include "app/Resources.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPixmap>
#include <QUiLoader>
#include <QWidget>

namespace qarn {

namespace {

const QString kRoot = QStringLiteral(":/qarnres");

// Length of the conversion starting at format[start] ('%'), or 0 when none starts there.
// Grammar: % [flags -+ #0] [width|*] [.precision|*] [length] conversion; "%-8.3ls" -> 7.
qsizetype ConversionLength(const QString& format, qsizetype start) {
    static const QString kFlags = QStringLiteral("-+ #0");
    static const QString kConversions = QStringLiteral("diouxXcCsSeEfgGaAp");
    // Longest first; "I64" and "I32" are the original platform's own length modifiers.
    static const QStringList kLengths = {
        QStringLiteral("I64"), QStringLiteral("I32"), QStringLiteral("hh"), QStringLiteral("ll"),
        QStringLiteral("h"),   QStringLiteral("l"),   QStringLiteral("L"),  QStringLiteral("q"),
        QStringLiteral("j"),   QStringLiteral("z"),   QStringLiteral("t"),  QStringLiteral("I"),
        QStringLiteral("w")};
    const qsizetype n = format.size();
    qsizetype i = start + 1;
    auto skipDigits = [&] {
        if (i < n && format[i] == u'*')
            ++i;
        else
            while (i < n && format[i] >= u'0' && format[i] <= u'9')
                ++i;
    };
    while (i < n && kFlags.contains(format[i]))
        ++i;
    skipDigits();
    if (i < n && format[i] == u'.') {
        ++i;
        skipDigits();
    }
    for (const QString& length : kLengths) {
        if (QStringView(format).mid(i).startsWith(length)) {
            i += length.size();
            break;
        }
    }
    if (i < n && kConversions.contains(format[i]))
        return i + 1 - start;
    return 0;
}

QByteArray ReadResource(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace

QString ResourceString(unsigned id) {
    return QString::fromUtf8(
        ReadResource(kRoot + QStringLiteral("/strings/") + QString::number(id)));
}

QString ControlObjectName(unsigned id) {
    return QStringLiteral("ctl_") + QString::number(id);
}

QWidget* FindControl(const QWidget* dialog, unsigned id) {
    if (dialog == nullptr)
        return nullptr;
    return dialog->findChild<QWidget*>(ControlObjectName(id));
}

QString DialogTemplatePath(unsigned id) {
    return kRoot + QStringLiteral("/dialog/") + QString::number(id) + QStringLiteral(".ui");
}

QWidget* LoadDialogTemplate(unsigned id, QWidget* parent) {
    // Widgets abort the process without a QApplication; a missing one is a plain failure here.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return nullptr;
    QFile file(DialogTemplatePath(id));
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    QUiLoader loader;
    return loader.load(&file, parent);
}

QIcon ResourceIcon(unsigned id) {
    const QDir folder(kRoot + QStringLiteral("/icons/") + QString::number(id));
    QIcon icon;
    for (const QString& name : folder.entryList(QDir::Files, QDir::Name))
        icon.addFile(folder.filePath(name));
    return icon;
}

std::optional<QPoint> ResourceCursorHotSpot(unsigned id) {
    // Lines "<id> <x> <y>", '#' starts a comment: "142 15 15".
    const QString text =
        QString::fromUtf8(ReadResource(kRoot + QStringLiteral("/cursors/hotspots.txt")));
    for (QString line : text.split(u'\n')) {
        line = line.section(u'#', 0, 0).simplified();
        const QStringList fields = line.split(u' ', Qt::SkipEmptyParts);
        bool idOk = false;
        if (fields.size() != 3 || fields[0].toUInt(&idOk) != id || !idOk)
            continue;
        bool xOk = false;
        bool yOk = false;
        const int x = fields[1].toInt(&xOk);
        const int y = fields[2].toInt(&yOk);
        if (xOk && yOk)
            return QPoint(x, y);
    }
    return std::nullopt;
}

std::optional<QCursor> ResourceCursor(unsigned id) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
        return std::nullopt;
    QPixmap image;
    if (!image.load(kRoot + QStringLiteral("/cursors/") + QString::number(id) +
                    QStringLiteral(".png")))
        return std::nullopt;
    const QPoint hotSpot = ResourceCursorHotSpot(id).value_or(QPoint(0, 0));
    return QCursor(image, hotSpot.x(), hotSpot.y());
}

QStringList FormatPlaceholders(const QString& format) {
    QStringList found;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] != u'%')
            continue;
        if (i + 1 < format.size() && format[i + 1] == u'%') {
            ++i;
            continue;
        }
        const qsizetype length = ConversionLength(format, i);
        if (length == 0) {
            found.append(format.mid(i, 2));
            continue;
        }
        found.append(format.mid(i, length));
        i += length - 1;
    }
    return found;
}

QString FormatText(const QString& format, const QStringList& arguments) {
    QString out;
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] != u'%') {
            out.append(format[i]);
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == u'%') {
            out.append(u'%');
            ++i;
            continue;
        }
        const qsizetype length = ConversionLength(format, i);
        if (length == 0) {
            out.append(format[i]);
            continue;
        }
        if (next < arguments.size())
            out.append(arguments[next]);
        ++next;
        i += length - 1;
    }
    return out;
}

} // namespace qarn
