#pragma once
// How both command-line tools read their options: getopt_long with options ending at the first
// word that is none, only full option names, and every message the tool's own.
#include <getopt.h>

#include <string>
#include <string_view>

// True when word names one of options in full ("--name" or "--name=...") or is "-h":
// getopt_long also takes abbreviations, which the tools never did, and one could come to mean
// another option later ("--no-arp" is one of "--no-arp-first").
inline bool SpelledOut(std::string_view word, const option* options) {
    if (word == "-h")
        return true;
    if (!word.starts_with("--"))
        return false;
    word = word.substr(2, word.find('=') - 2);
    for (const option* o = options; o->name; ++o)
        if (word == o->name)
            return true;
    return false;
}

// Call before the first NextLongOption of a command line.
inline void StartLongOptions() {
    optind = 0;  // glibc: a fresh start, also for a second command line in one process
    opterr = 0;  // the messages are the tool's own
}

// The next option's code (as getopt_long gives it, 'h' for -h and --help); -1 at the end of
// the options, or on a word that is no option of the tool, then with the message in problem.
inline int NextLongOption(int argc, char** argv, const option* options, std::string& problem) {
    const int at = optind ? optind : 1;  // the word getopt_long looks at next
    // "+": options end at the first word that is none, as they always did.
    const int c = getopt_long(argc, argv, "+:h", options, nullptr);
    if (c == -1) {
        if (optind > at)  // getopt_long took "--" as the end of the options
            problem = "unknown argument: --";
        else if (optind < argc)
            problem = std::string("unknown argument: ") + argv[optind];
        return -1;
    }
    const char* word = argv[at];
    if (c == '?' || !SpelledOut(word, options))
        problem = std::string("unknown argument: ") + word;
    else if (c == ':')
        problem = std::string(word) + " needs an argument";
    return problem.empty() ? c : -1;
}
