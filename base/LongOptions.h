#pragma once
// How both command-line tools read their options: getopt_long with options ending at the first
// word that is none, only full option names, and every message the tool's own.
#include <getopt.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/Error.h"

// True when word names one of options in full ("--name" or "--name=...") or is one short option
// ("-x", or "-xVALUE" for a letter that takes one; letters as getopt's optstring lists them, one
// letter a word): getopt_long also takes abbreviations, which the tools never did, and one could
// come to mean another option later ("--no-arp" is one of "--no-arp-first").
inline bool SpelledOut(std::string_view word, const option* options, std::string_view letters) {
    if (word.size() >= 2 && word[0] == '-' && word[1] != '-') {
        const std::size_t at = word[1] == ':' ? std::string_view::npos : letters.find(word[1]);
        return at != std::string_view::npos &&
               (word.size() == 2 || (at + 1 < letters.size() && letters[at + 1] == ':'));
    }
    if (!word.starts_with("--"))
        return false;
    word = word.substr(2, word.find('=') - 2);
    for (const option* o = options; o->name; ++o)
        if (word == o->name)
            return true;
    return false;
}

// The next option's code (as getopt_long gives it, 'h' for -h and --help); -1 at the end of
// the options, or on a word that is no option of the tool, then with the message in problem.
// letters: the short options in getopt's form ("hi:w::").
inline int NextLongOption(int argc, char** argv, const option* options, const std::string& letters,
                          std::string& problem) {
    const int at = optind ? optind : 1;  // the word getopt_long looks at next
    // "+": options end at the first word that is none, as they always did.
    const int c = getopt_long(argc, argv, ("+:" + letters).c_str(), options, nullptr);
    if (c == -1) {
        if (optind > at)  // getopt_long took "--" as the end of the options
            problem = "unknown argument: --";
        else if (optind < argc)
            problem = std::string("unknown argument: ") + argv[optind];
        return -1;
    }
    const char* word = argv[at];
    if (c == '?' || !SpelledOut(word, options, letters))
        problem = std::string("unknown argument: ") + word;
    else if (c == ':')
        problem = std::string(word) + " needs an argument";
    return problem.empty() ? c : -1;
}

// A command line as it is read: the options read so far, the words (for an option that takes the
// word after its own, at optind) and the first problem.
template <typename Options>
struct LongOptionReading {
    LongOptionReading(Options& options, int count, char** words) : o(options), argc(count), argv(words) {}
    Options& o;
    int argc;
    char** argv;
    std::string problem;
    bool finished = false;  // set by an option that answers on its own (--version): reading ends
};

// A command line's problem as the option reader words it; empty for none.
inline Failure Refusal(const std::string& problem) {
    return problem.empty() ? Failure() : Failure(Errc::BadCommandLine, problem);
}

// One option of a tool besides --help: its name, getopt_long's has_arg, and what it does with its
// argument (nullptr when it has none) to the reading (a LongOptionReading), setting its problem
// when the option cannot be taken; and the letter of its short form, if it has one.
template <typename Reading>
struct LongOption {
    const char* name;
    int argument;
    void (*take)(Reading& reading, const char* argument);
    char letter = 0;
};

// Reads the options of the reading's words: empty, or BadCommandLine with the problem as its
// subject. --help or -h sets help and ends the reading, as does an option that sets the reading's
// finished; a problem before it still counts.
template <typename Reading, std::size_t N>
Failure ReadLongOptions(const LongOption<Reading> (&options)[N], Reading& reading, bool& help) {
    // An option with a short form comes back as its letter, one without as 256 + its index.
    std::vector<option> table{{"help", no_argument, nullptr, 'h'}};
    std::string letters = "h";
    for (std::size_t i = 0; i < N; ++i) {
        const char letter = options[i].letter;
        table.push_back(
            {options[i].name, options[i].argument, nullptr, letter ? letter : static_cast<int>(256 + i)});
        if (letter)
            letters += std::string(1, letter) + (options[i].argument == required_argument   ? ":"
                                                 : options[i].argument == optional_argument ? "::"
                                                                                            : "");
    }
    table.push_back({});
    optind = 0;  // glibc: a fresh start, also for a second command line in one process
    opterr = 0;  // the messages are the tool's own
    for (;;) {
        const int c = NextLongOption(reading.argc, reading.argv, table.data(), letters, reading.problem);
        if (c == 'h')
            help = true;
        if (c == -1 || c == 'h')
            return Refusal(reading.problem);
        std::size_t index = c >= 256 ? static_cast<std::size_t>(c - 256) : 0;
        while (c < 256 && options[index].letter != c)
            ++index;
        options[index].take(reading, optarg);
        if (!reading.problem.empty() || reading.finished)
            return Refusal(reading.problem);
    }
}
