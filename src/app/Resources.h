#pragma once

// Lookups in the loaded language bundle (QarnPlonResourceHelper). Every lookup answers from the
// bundle registered at the moment of the call; with no bundle, or one that lacks the resource, it
// gives an empty result and never fails harder than that.
//
// Layout inside a bundle (written by res/tools/qarn_resgen.cpp):
//     :/qarnres/strings/<id>          one UTF-8 text per string id
//     :/qarnres/dialog/<id>.ui        a dialog template (Qt Designer form)
//     :/qarnres/icons/<id>/<px>.png   one image per icon size
//     :/qarnres/cursors/<id>.png      a cursor image; hot spots in :/qarnres/cursors/hotspots.txt

#include <optional>

#include <QCursor>
#include <QIcon>
#include <QPoint>
#include <QString>
#include <QStringList>

class QWidget;

namespace qarn {

// The text of string `id`; empty when the bundle has none.
QString ResourceString(unsigned id);

// A dialog template's controls carry their numeric id in their object name: 1025 -> "ctl_1025".
QString ControlObjectName(unsigned id);

// The control with `id` anywhere below `dialog`; null when there is none.
QWidget* FindControl(const QWidget* dialog, unsigned id);

// Where the dialog template `id` lies in the loaded bundle (a Qt Designer form), for loaders of
// its own: ":/qarnres/dialog/15008.ui".
QString DialogTemplatePath(unsigned id);

// Builds the dialog template `id` as a widget tree (the caller owns the result, or `parent` does
// when given). Null when there is no such template, it cannot be read, or no QApplication runs.
QWidget* LoadDialogTemplate(unsigned id, QWidget* parent = nullptr);

// Icon `id` with every size the bundle has; a null icon when there is none.
QIcon ResourceIcon(unsigned id);

// Hot spot of cursor `id` in image pixels; empty when the bundle does not name one.
std::optional<QPoint> ResourceCursorHotSpot(unsigned id);

// Cursor `id` with its hot spot (the top-left pixel when none is named). Empty when the bundle
// has no such image or no QGuiApplication runs (a pixmap needs one).
std::optional<QCursor> ResourceCursor(unsigned id);

// The printf conversions of a format string, in order, as written: "%s of %02x%%" -> {"%s",
// "%02x"}. "%%" is text, not a conversion. A '%' that starts no valid conversion is listed as
// '%' with the character after it (or alone at the end), so that it shows as a difference.
QStringList FormatPlaceholders(const QString& format);

// Fills a format string from a string table without printf: each conversion takes the next
// argument's text as it is (the caller formats numbers), "%%" gives "%", a conversion without
// an argument gives nothing, extra arguments are ignored. A translated text whose conversions
// do not fit the arguments thus can never read past them.
// FormatText("Address %s is not valid", {"10.0.0.255"}) -> "Address 10.0.0.255 is not valid".
QString FormatText(const QString& format, const QStringList& arguments);

} // namespace qarn
