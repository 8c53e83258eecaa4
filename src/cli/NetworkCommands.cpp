#include "cli/NetworkCommands.h"

#include "cli/ConverterRow.h"
#include "cli/ConverterSession.h"
#include "cli/DeviceFormat.h"
#include "cli/ExitStatus.h"
#include "cli/SessionSupport.h"
#include "cli/Target.h"

namespace qarn::cli {

int RunDiscover(const EndpointOptions& endpoint, const DiscoverOptions& options, std::ostream& out,
                std::ostream& err) {
    ConverterSession session(endpoint.port);
    std::string why;
    if (!session.Open(&why, endpoint.broadcastInterface))
        return Fail(err, why);
    session.ListenAndSettle(SecondsToMs(options.seconds));
    const std::vector<ConverterRow> rows = MakeConverterRows(session.List());
    switch (options.form) {
    case OutputForm::Table:
        out << FormatTable(rows);
        break;
    case OutputForm::Json:
        out << FormatJson(rows);
        break;
    case OutputForm::Csv:
        out << FormatCsv(rows);
        break;
    }
    return kExitSuccess;
}

int RunShow(const EndpointOptions& endpoint, const ShowOptions& options, std::ostream& out,
            std::ostream& err) {
    const std::optional<Target> target = ParseTarget(options.target);
    if (!target)
        return UsageError(err, "'" + options.target + "' is not an IPv4 or MAC address");
    ConverterSession session(endpoint.port);
    std::string why;
    if (!session.Open(&why, endpoint.broadcastInterface))
        return Fail(err, why);
    const DeviceList& list = session.List();
    session.RunUntil(SecondsToMs(options.seconds),
                     [&] { return FindReadyRow(list, *target).has_value(); });
    const std::optional<size_t> row = FindReadyRow(list, *target);
    if (!row)
        return Fail(err, NotReadyReason(list, *target, options.seconds));
    const ConverterRow shown = MakeConverterRow(list, *row);
    out << (options.json ? FormatJsonObject(shown) : FormatRecord(shown));
    return kExitSuccess;
}

} // namespace qarn::cli
