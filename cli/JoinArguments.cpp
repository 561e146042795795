#include "cli/JoinArguments.h"

#include "foundation/FileUtil.h"

namespace quilmer {

bool ParseJoinArguments(const std::vector<std::string>& args, JoinArguments& parsed, std::string& error) {
    parsed = JoinArguments{};
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            parsed.clips.push_back(WidePath(arg));
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            parsed.help = true;
        } else if (arg == "--version") {
            parsed.version = true;
        } else if (arg == "--check") {
            parsed.check = true;
        } else if (arg == "-q" || arg == "--quiet") {
            parsed.quiet = true;
        } else if (arg == "--no-chapters") {
            parsed.chapters = false;
        } else if (arg == "-o" || arg == "--output") {
            if (i + 1 >= args.size()) {
                error = "option " + arg + " needs the output file name";
                return false;
            }
            if (!parsed.output.empty()) {
                error = "the output file is given twice";
                return false;
            }
            parsed.output = WidePath(args[++i]);
        } else if (arg == "-m" || arg == "--method" || arg.rfind("--method=", 0) == 0) {
            std::string value;
            if (arg.rfind("--method=", 0) == 0) {
                value = arg.substr(9);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                error = "option " + arg + " needs a method: classic, lossless, single, smart or auto";
                return false;
            }
            if (value != "classic" && value != "lossless" && value != "single" && value != "smart" && value != "auto") {
                error = "unknown join method '" + value + "' (use classic, lossless, single, smart or auto)";
                return false;
            }
            parsed.method = value;
        } else if (arg.rfind("--output=", 0) == 0) {
            parsed.output = WidePath(arg.substr(9));
        } else {
            error = "unknown option " + arg + " (a clip whose name begins with '-' can be given as ./" + arg +
                    " or after --)";
            return false;
        }
    }
    if (parsed.help || parsed.version) return true;
    if (parsed.check) {
        if (parsed.clips.empty()) error = "no clips to check";
        return error.empty();
    }
    if (parsed.output.empty()) {
        error = "no output file: give it with -o OUTPUT";
        return false;
    }
    if (parsed.clips.empty()) {
        error = "no clips to join";
        return false;
    }
    return true;
}

std::string JoinUsage() {
    return "Usage: quilmer-join [-q] [--method METHOD] [--no-chapters] -o OUTPUT CLIP...\n"
           "       quilmer-join --check [-o OUTPUT] CLIP...\n"
           "Joins the clips, in the order given, into one video file OUTPUT.\n"
           "\n"
           "The extension of OUTPUT chooses the format (the codecs are those of an encode;\n"
           "a lossless join keeps the clips' own):\n"
           "  .avi                               AVI (MPEG-4 video, MP3 audio)\n"
           "  .flv .hlv .f4v .flx .fmv           Flash video\n"
           "  .rmvb .rm                          RealMedia\n"
           "  .wmv .wma .asf                     Windows Media\n"
           "  .mp4 .3gp .mov                     MP4 (H.264 in two passes, AAC audio)\n"
           "The clips may be of any container the encoder reads (flv, mp4, mov, 3gp, avi, wmv,\n"
           "asf, rm, rmvb, mkv, ...); they may differ in frame size, frame rate and audio.\n"
           "An existing OUTPUT is replaced. OUTPUT must not be one of the clips.\n"
           "\n"
           "Options:\n"
           "  -o, --output OUTPUT  the file to write\n"
           "  -q, --quiet          no progress display\n"
           "  -m, --method METHOD  how to join (default auto):\n"
           "      classic   convert every clip, join, encode the result (two passes for MP4)\n"
           "      lossless  copy the streams without re-encoding; only when all clips share\n"
           "                codecs, frame size, frame rate and sound format and the output\n"
           "                container can hold them (otherwise it refuses and says why)\n"
           "      single    decode each clip once and encode the output once, every clip\n"
           "                fitted into the first clip's frame\n"
           "      smart     copy the clips that match the others, re-encode only the ones that\n"
           "                differ to the same codec settings; single when the re-encoded\n"
           "                clips cannot be made to match (it says why)\n"
           "      auto      lossless when the clips allow it, smart when most of the length\n"
           "                matches, single otherwise\n"
           "      --check          join nothing: compare every clip with the reference clip\n"
           "                       (the first, or the one most clips match), print each\n"
           "                       difference and what the join does about it, and the\n"
           "                       method auto would take; the output's extension (default:\n"
           "                       the first clip's own, else mp4) names the container.\n"
           "                       Exit status 0 when a lossless join is possible, 1 if not\n"
           "      --no-chapters    no chapter marks: by default an MP4 or WMV output has a\n"
           "                       chapter per clip, named after the clip's file, and keeps\n"
           "                       the chapters of clips that have their own\n"
           "  -h, --help           this text\n"
           "      --version        print the version and exit\n"
           "  --                   everything after it is a clip, even if it begins with '-'\n"
           "\n"
           "Progress goes to standard error: a bar on a terminal, plain lines otherwise.\n"
           "The new file replaces an existing OUTPUT only when it is complete; until then it is\n"
           "written beside it under a name ending in .partial plus the extension.\n"
           "Ctrl-C (or SIGTERM, or SIGHUP when the terminal closes) stops the join, removes its\n"
           "temporary files and the unfinished output, and exits with status 130 (143, 129).\n"
           "A second join into the same OUTPUT is refused while the first one runs.\n"
           "Exit status: 0 when OUTPUT was written and reads back as media; 1 when the join\n"
           "failed; 2 for a usage mistake.\n";
}

}  // namespace quilmer
