// export: a recording of the window tool or of monitor --record as OpenMetrics text, for a Prometheus
// server to take in (promtool tsdb create-blocks-from openmetrics).
#include "cli/CliCommands.h"
#include "cli/OpenMetricsExport.h"
#include "files/PlainFile.h"
#include "recorder/RecordingFile.h"

#include <iostream>

namespace tessor::cli {

namespace {

int FileFail(const Streams& streams, const std::string& message) {
    streams.err << "tessor-cli: " << message << std::endl;
    return kExitFile;
}

} // namespace

int RunExport(const ExportArgs& args, const Streams& streams) {
    if (!args.output.empty()) {
        int cause = 0;
        if (!CanReplacePlainFile(args.output, &cause))
            return FileFail(streams, args.output + ": cannot be created: " + PlainFileErrorText(cause) +
                                         ".\nCheck that its folder exists and that you may write there.");
    }
    rec::LineStore store;
    std::string error;
    if (!rec::ReadRecording(args.recording, &store, &error))
        return FileFail(streams, error + "\nName a recording made by the window tool's Line History or by "
                                         "tessor-cli monitor --record.");
    if (store.skippedRows > 0)
        streams.err << "tessor-cli: " << args.recording << ": " << store.skippedRows
                    << " damaged row(s) skipped; the rest is exported." << std::endl;
    if (args.output.empty()) {
        WriteOpenMetrics(store, args.site, [&streams](const std::string& text) { streams.out << text; });
        streams.out.flush();
        if (!streams.out)
            return FileFail(streams, "cannot write to standard output: the export is incomplete. Check the "
                                     "free space where it goes, or give --output FILE.");
        return kExitOk;
    }
    std::string text;
    WriteOpenMetrics(store, args.site, [&text](const std::string& piece) { text += piece; });
    int cause = 0;
    if (!ReplacePlainFileContents(args.output, text.data(), text.size(), &cause))
        return FileFail(streams, args.output + ": could not be written: " + PlainFileErrorText(cause) +
                                     ".\nCheck the free space and that you may write there; the file is as "
                                     "it was.");
    return kExitOk;
}

} // namespace tessor::cli
