// quillet-batch: the batch run from a terminal, with the dialog's settings as options.
#include "core/batch.h"
#include "core/distribute.h"
#include "core/file_types.h"
#include "core/numbers.h"
#include "core/version.h"
#include "cli/options.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using quillet::BatchSettings;

constexpr int kAllWritten = 0;
constexpr int kSomeSkipped = 1;
constexpr int kRefused = 2;
constexpr int kStoppedBySignal = 128;  // plus the signal's number, as the shell reports it

const char kUsage[] =
    "Usage: quillet-batch [options] SOURCE DEST\n"
    "Makes a JPEG thumbnail of every .jpg file in SOURCE, under the same name in DEST.\n"
    "\n"
    "Size and rules:\n"
    "  -W, --width N            desired width in pixels (640)\n"
    "  -H, --height N           desired height in pixels (480)\n"
    "      --size WxH           both at once; --size N for an N x N box\n"
    "      --rule RULE          perfect-fit (crop if necessary), fit-outside, fit-inside (perfect-fit)\n"
    "      --portrait RULE      reverse-box, fit-inside-all, crop-landscape, rules-only (fit-inside-all)\n"
    "      --crop-position N    height crop position in percent for portrait crops (65)\n"
    "      --method METHOD      bilinear or bicubic (bilinear)\n"
    "Output:\n"
    "      --format FORMAT      jpeg, webp or avif (jpeg); webp and avif take the format's extension\n"
    "  -q, --quality N          quality of the chosen format, 1 to 100 (80)\n"
    "      --enhanced-sampling  full chroma resolution (on); --no-enhanced-sampling to turn off\n"
    "      --copy-exif          carry each photograph's EXIF, XMP and IPTC into its thumbnail, made\n"
    "                           true of the thumbnail: its size, no embedded preview\n"
    "      --strip-gps          with --copy-exif, leave the location (GPS fields) out\n"
    "      --srgb               convert colours to sRGB and embed no colour profile (for the web);\n"
    "                           otherwise a photograph's profile is carried into its thumbnail\n"
    "Processing:\n"
    "      --no-auto-rotate     keep pictures as stored instead of turning them upright by\n"
    "                           their orientation tag\n"
    "      --auto-brightness    stretch the levels of each picture before it is resized\n"
    "      --sharpen            sharpen each thumbnail\n"
    "      --boost-color        boost the colours of each thumbnail\n"
    "Files:\n"
    "  -r, --subdirs            also take the files of SOURCE's sub-folders\n"
    "  -a, --all-types          take every picture type Quillet reads, not only .jpg files;\n"
    "                           a.png becomes a.jpg (a.tif beside it a.tif.jpg)\n"
    "  -j, --jobs N             files made at once (the number of cores)\n"
    "      --fast               accepted for older scripts: every picture is now reduced while it\n"
    "                           is read (JPEG at 1/2 to 1/8, the rest area-averaged)\n"
    "      --exact              the literal road: load each picture whole and resample it from its\n"
    "                           full size (more memory, aliasing; the thumbnails of earlier versions)\n"
    "      --skip-existing      leave a file alone when its thumbnail was made from it as it is,\n"
    "                           with the same settings (up to date)\n"
    "      --keep-folders       mirror SOURCE's sub-folders in DEST instead of one flat folder\n"
    "      --overwrite          replace a file in DEST that Quillet did not make; without it such a\n"
    "                           file is kept and its source skipped (sources are never replaced)\n"
    "      --files-from FILE    the files listed in FILE (- for standard input), one a line,\n"
    "                           relative to SOURCE, instead of SOURCE's .jpg files\n"
    "  -0                       with --files-from: the names end in NUL, not newline\n"
    "      --shard K/N          only shard K (0 to N-1) of N; N processes together make every\n"
    "                           thumbnail once. auto, auto/N: K (and N) from a Kubernetes Indexed\n"
    "                           Job (JOB_COMPLETION_INDEX) or a Slurm job array\n"
    "      --report FILE        one JSON line per file: attempt, path, status, reason, thumbnail,\n"
    "                           size, milliseconds; - for standard output (the summary then goes\n"
    "                           to standard error). Appended to, never truncated: each run's\n"
    "                           lines carry its own attempt id\n"
    "      --skipped-ok         exit 0 also when files were skipped or kept (the report lists them)\n"
    "  -n, --dry-run            say for every file whether its thumbnail would be written, is up to\n"
    "                           date, is kept or skipped; write nothing and create no folder\n"
    "Messages:\n"
    "      --quiet              print only errors\n"
    "      --verbose            a line per file: what became of it, its code, its time\n"
    "  -h, --help               this text\n"
    "      --version            the program's version\n"
    "      --                   ends the options: a folder may then begin with -\n"
    "\n"
    "Long options take their value as --width 800 or --width=800, short ones as -W 800 or -W800,\n"
    "and short switches bundle: -ra.\n"
    "\n"
    "Thumbnails are named after their sources, in the order of their paths relative to SOURCE\n"
    "(bytewise). In flat output a later source whose name is taken carries its sub-folder:\n"
    "b/IMG_1.jpg after a/IMG_1.jpg becomes IMG_1 (b).jpg. Every thumbnail carries a record of\n"
    "its source and settings; only a file with such a record (or the mark of an earlier\n"
    "release) is replaced, unless --overwrite.\n"
    "\n"
    "Ctrl-C, TERM or HUP stops after the files being made; a second one stops at once.\n"
    "Exit status: 0 every file written or up to date, 1 some files skipped or kept, 2 refused,\n"
    "bad usage or the destination lost during the run, 130 stopped by Ctrl-C, 143 by TERM\n"
    "(128 and the signal's number).\n";

// The picture types, from the library's registry.
void PrintTypes()
{
    std::string read, known;
    for (const quillet::FormatInfo& format : quillet::Formats()) {
        std::string& list = format.readable ? read : known;
        list += (list.empty() ? "" : ", ") + format.name;
    }
    std::printf("\nA file is read by its content, whatever its name. Read: %s.\n"
                "Recognised but not read: %s.\n",
                read.c_str(), known.c_str());
}

volatile std::sig_atomic_t g_interrupted = 0;

// Ctrl-C, TERM and HUP stop the run after the files being made; a second one ends the
// program at once, without leaving its temporaries behind.
void OnInterrupt(int signalNumber)
{
    if (g_interrupted) {
        quillet::RemoveLiveTemporaries();
        std::signal(signalNumber, SIG_DFL);
        std::raise(signalNumber);
        return;
    }
    g_interrupted = signalNumber;
}

void CatchInterrupts()
{
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESTART;  // a write in progress is not cut short by the signal
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signalNumber, &action, nullptr);
}

// Which attempt wrote a report line: a task's report is appended to by every attempt (a job
// engine's retry, a resubmitted task, a rerun by hand), never truncated, so that what an
// earlier attempt recorded is kept and told apart. Host, process and start time; under Slurm
// the job id first. Only [A-Za-z0-9._-] are kept, so the id needs no escaping.
std::string AttemptId()
{
    char host[256] = "";
    gethostname(host, sizeof host - 1);
    std::string id;
    if (const char* job = std::getenv("SLURM_JOB_ID"); job && *job)
        id = std::string("slurm-") + job + "-";
    id += std::string(host) + "-" + std::to_string(getpid()) + "-" + std::to_string(std::time(nullptr));
    for (char& c : id)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-')
            c = '_';
    return id;
}

// Opens a report for appending. A line cut short by a killed attempt is ended first, so that
// the next attempt's first line stays a line of its own.
std::FILE* OpenReport(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "a+");
    if (!file)
        return nullptr;
    const bool cutShort = std::fseek(file, -1, SEEK_END) == 0 && std::fgetc(file) != '\n';
    std::fseek(file, 0, SEEK_END);  // a write after a read needs a seek between them
    if (cutShort)
        std::fputc('\n', file);
    return file;
}

// A file name as it may be printed: control characters would drive the terminal.
std::string Printable(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, c == '\\' ? "\\\\" : "\\x%02x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

// The terminal's progress line, when standard error is a terminal.
class TerminalProgress : public quillet::BatchProgress {
public:
    TerminalProgress(bool live, bool verbose) : m_live(live), m_verbose(verbose) {}

    void SetRange(uint32_t lower, uint32_t upper) override
    {
        m_total = upper > lower ? upper - lower : 0;
        m_start = std::chrono::steady_clock::now();
    }
    void SetPos(uint32_t position) override
    {
        m_done = position;
        Draw();
    }
    void ShowPreview(const std::string&) override {}
    bool CheckCancelButton() override { return g_interrupted != 0; }
    void FileSkipped(const std::string& path, const std::string& reason) override
    {
        if (m_verbose)
            return;  // its verbose line says it
        Finish();
        std::fprintf(stderr, "skipped %s: %s\n", Printable(path).c_str(), Printable(reason).c_str());
        Draw();
    }
    void FileDone(const quillet::FileRecord& record) override
    {
        if (m_verbose) {
            Finish();
            std::string reason = Printable(record.reason);
            // The library's code where the reason does not already give it.
            if (record.code != 0)
                reason += ", code " + std::to_string(record.code);
            std::fprintf(stderr, "%s %s%s%s%s, %.1f ms\n", quillet::FileStatusText(record.status),
                         Printable(record.path).c_str(), record.thumbnail.empty() ? "" : " -> ",
                         Printable(record.thumbnail).c_str(), reason.empty() ? "" : (" (" + reason + ")").c_str(),
                         record.milliseconds);
            Draw();
        }
        if (!m_report)
            return;
        // {"attempt":"…", then the record's own fields.
        const std::string line = "{\"attempt\":\"" + m_attempt + "\"," + quillet::ReportLine(record).substr(1) + "\n";
        if (std::fputs(line.c_str(), m_report) < 0 || std::fflush(m_report) != 0)
            m_reportFailed = true;
    }
    void SetReport(std::FILE* report, std::string attempt)
    {
        m_report = report;
        m_attempt = std::move(attempt);
    }
    bool ReportFailed() const { return m_reportFailed; }
    void IncompleteSource(const std::string& path) override
    {
        Finish();
        std::fprintf(stderr, "incomplete source %s: its data ended early; the thumbnail is partly filled in\n",
                     Printable(path).c_str());
        Draw();
    }

    // Clears the progress line so that other text can take its place.
    void Finish()
    {
        if (m_live && m_drawn)
            std::fputs("\r\033[K", stderr);
        m_drawn = false;
    }
private:
    void Draw()
    {
        if (!m_live || m_total == 0)
            return;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
        constexpr int kWidth = 30;
        constexpr uint32_t kTimedFiles = 3;  // fewer make a guess, not an estimate
        const int filled = static_cast<int>(kWidth * uint64_t{m_done} / m_total);
        std::string bar(filled, '#');
        bar.resize(kWidth, '.');
        char left[32] = "";
        if (m_done >= kTimedFiles && m_done < m_total) {
            const double remaining = elapsed / m_done * (m_total - m_done);
            std::snprintf(left, sizeof left, ", %d:%02d left", static_cast<int>(remaining) / 60,
                          static_cast<int>(remaining) % 60);
        }
        std::fprintf(stderr, "\r\033[K[%s] %u/%u%s", bar.c_str(), m_done, m_total, left);
        std::fflush(stderr);
        m_drawn = true;
    }

    bool m_live;
    bool m_verbose;
    bool m_drawn = false;
    std::FILE* m_report = nullptr;
    std::string m_attempt;
    bool m_reportFailed = false;
    uint32_t m_total = 0;
    uint32_t m_done = 0;
    std::chrono::steady_clock::time_point m_start;
};

int BadUsage(const std::string& message)
{
    std::fprintf(stderr, "quillet-batch: %s\nTry 'quillet-batch --help'.\n", message.c_str());
    return kRefused;
}

}  // namespace

int main(int argc, char** argv)
{
    quillet::cli::Options options;
    std::string message;
    switch (quillet::cli::ParseOptions(argc, argv, options, message)) {
    case quillet::cli::Parsed::Help:
        std::fputs(kUsage, stdout);
        PrintTypes();
        return kAllWritten;
    case quillet::cli::Parsed::Version:
        std::printf("quillet-batch %s\n%s\n%s\n", QUILLET_VERSION, QUILLET_COPYRIGHT, QUILLET_LICENCE);
        return kAllWritten;
    case quillet::cli::Parsed::BadUsage:
        return BadUsage(message);
    case quillet::cli::Parsed::Run:
        break;
    }
    BatchSettings& settings = options.settings;
    const std::vector<std::string>& folders = options.folders;
    const std::string& filesFrom = options.filesFrom;
    const std::string& shardText = options.shard;
    const std::string& reportPath = options.report;
    const bool nulSeparated = options.nulSeparated;
    const unsigned jobs = quillet::JobCount(options.jobs);
    if (folders.size() != 2)
        return BadUsage("give a SOURCE and a DEST folder");

    namespace fs = std::filesystem;
    std::error_code error;
    if (!fs::is_directory(folders[0], error)) {
        std::fprintf(stderr, "quillet-batch: %s is not a folder\n", Printable(folders[0]).c_str());
        return kRefused;
    }
    if (!folders[1].empty() && !fs::is_directory(folders[1], error)) {
        std::fprintf(stderr, "quillet-batch: %s is not a folder\n", Printable(folders[1]).c_str());
        return kRefused;
    }
    settings.PathIn = quillet::WithSeparator(folders[0]);
    settings.PathOut = quillet::WithSeparator(folders[1]);

    if (nulSeparated && filesFrom.empty())
        return BadUsage("-0 goes with --files-from");
    std::optional<quillet::Shard> shard;
    if (!shardText.empty()) {
        std::string why;
        shard = quillet::ParseShard(shardText, [](const char* name) { return std::getenv(name); }, why);
        if (!shard)
            return BadUsage(why);
    }

    std::vector<std::string> files;
    if (filesFrom.empty()) {
        quillet::RescanSource(settings, files);
    } else {
        std::string why;
        // "-": the list comes on standard input, as from find -print0.
        auto listed = quillet::ReadFileList(filesFrom == "-" ? "/dev/stdin" : filesFrom, nulSeparated, settings.PathIn, why);
        if (!listed) {
            std::fprintf(stderr, "quillet-batch: cannot read the list %s\n", Printable(why).c_str());
            return kRefused;
        }
        files = std::move(*listed);
    }
    // The whole list is checked, so that every shard refuses alike; an empty shard has
    // simply nothing to do.
    if (const quillet::Refusal refusal = quillet::CheckRun(settings, files); refusal != quillet::Refusal::None) {
        std::string others;
        if (refusal == quillet::Refusal::NoFiles && filesFrom.empty())
            others = quillet::OtherPicturesText(settings);
        if (!others.empty())
            std::fprintf(stderr, "quillet-batch: %s: the folder holds %s; --all-types (-a) takes them\n",
                         quillet::RefusalText(refusal), others.c_str());
        else
            std::fprintf(stderr, "quillet-batch: %s\n", quillet::RefusalText(refusal));
        return kRefused;
    }

    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> report;
    // With the report on standard output, the summary goes to standard error.
    const bool reportToStdout = reportPath == "-";
    std::FILE* summaryStream = reportToStdout ? stderr : stdout;
    if (reportToStdout) {
        report.reset(fdopen(dup(STDOUT_FILENO), "w"));
    } else if (!reportPath.empty()) {
        report.reset(OpenReport(reportPath));
        if (!report) {
            std::fprintf(stderr, "quillet-batch: cannot write the report %s: %s\n", Printable(reportPath).c_str(),
                         std::strerror(errno));
            return kRefused;
        }
    }

    // Under the default portrait rule every picture is fitted inside the box: a --rule would
    // silently do nothing.
    if (options.ruleGiven && settings.Portrait == 1 && settings.Type != 2)
        std::fprintf(stderr, "quillet-batch: warning: --rule has no effect under --portrait fit-inside-all (the "
                             "default), which fits every picture inside the box; add --portrait rules-only to "
                             "apply it\n");

    CatchInterrupts();
    // A dry run says what it would do with every file.
    TerminalProgress progress(isatty(STDERR_FILENO) != 0 && !options.quiet,
                              options.verbose || (settings.DryRun && !options.quiet));
    progress.SetReport(report.get(), AttemptId());
    const auto start = std::chrono::steady_clock::now();
    quillet::BatchResult result;
    result = quillet::RunBatch(settings, files, progress, jobs, shard);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    progress.Finish();

    if (result.refusal != quillet::Refusal::None) {
        std::fprintf(stderr, "quillet-batch: %s\n", quillet::RefusalText(result.refusal));
        return kRefused;
    }
    if (result.destinationLost)
        std::fprintf(stderr, "quillet-batch: %s\n", quillet::DestinationLostText());
    const uint32_t handled = result.written + result.upToDate +
                             static_cast<uint32_t>(result.skipped.size() + result.kept.size());
    std::string incomplete;
    if (result.incomplete > 0)
        incomplete = ", " + std::to_string(result.incomplete) + " from incomplete sources";
    if (!options.quiet && settings.DryRun)
        std::fprintf(summaryStream, "dry run: %u would be written, %u up to date, %zu kept, %zu skipped%s; nothing "
                     "was written\n", result.written, result.upToDate, result.kept.size(), result.skipped.size(),
                     result.cancelled ? ", cancelled" : "");
    else if (!options.quiet)
        std::fprintf(summaryStream, "%u written%s, %u up to date, %zu kept, %zu skipped%s, %.2f s, %.2f files/s\n",
                     result.written, incomplete.c_str(), result.upToDate, result.kept.size(), result.skipped.size(),
                     result.cancelled ? ", cancelled" : "", seconds, seconds > 0 ? handled / seconds : 0.0);
    if (report && (progress.ReportFailed() || std::fclose(report.release()) != 0)) {
        std::fprintf(stderr, "quillet-batch: the report %s could not be written completely\n",
                     Printable(reportPath).c_str());
        return kSomeSkipped;
    }
    if (result.destinationLost)
        return kRefused;
    // A stopped run is never taken for a finished one.
    if (result.cancelled)
        return kStoppedBySignal + (g_interrupted ? g_interrupted : SIGINT);
    if (options.skippedOk)
        return kAllWritten;
    return result.skipped.empty() && result.kept.empty() ? kAllWritten : kSomeSkipped;
}
