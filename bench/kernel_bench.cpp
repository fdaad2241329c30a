// Times expand_block alone, for every path this CPU runs, over corpora held
// in memory (tab-indented source, space-indented source with few tabs,
// random bytes, all tabs), driven as the pump drives it: each input block of
// 16384 bytes is placed at the end of in_buf, the path is called until the
// output block is full or the input block empty, and the output is drained.
// A plain copy of the same blocks is timed beside it. Prints a markdown
// table of input gigabytes per second.
//
//   kernel_bench                 the table
//   kernel_bench PATH STOP       expands standard input once with that path
//                                and tab stop and prints the output's size:
//                                a fixed amount of work to count
//                                instructions of (bench/instructions.py)
#include "expand_model.h"
#include "filter/expand_paths.h"
#include "filter/filter_state.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Expands all of input with path, block by block; returns the output's size.
std::size_t expand_all(const std::string &input, int stop, void (*path)())
{
    start_expansion(stop);
    std::size_t made = 0;
    for (std::size_t fed = 0; fed < input.size();) {
        const std::size_t n = std::min<std::size_t>(BLOCK_SIZE, input.size() - fed);
        load_input(input.data() + fed, n);
        fed += n;
        while (in_pos != in_end) {
            path();
            made += static_cast<std::size_t>(out_pos - out_buf);
            out_pos = out_buf;
        }
    }
    return made;
}

// The copy floor: each block placed as the pump places it, then copied out.
std::size_t copy_all(const std::string &input, int, void (*)())
{
    std::size_t made = 0;
    for (std::size_t fed = 0; fed < input.size();) {
        const std::size_t n = std::min<std::size_t>(BLOCK_SIZE, input.size() - fed);
        load_input(input.data() + fed, n);
        fed += n;
        std::memcpy(out_buf, in_pos, n);
        made += n;
    }
    return made;
}

// A small deterministic generator (xorshift).
struct Random {
    std::uint64_t state = 0x9e3779b97f4a7c15u;
    std::uint32_t operator()()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<std::uint32_t>(state >> 32);
    }
};

constexpr std::size_t CORPUS = 8 << 20;
// Timings taken of each; the best counts, the others having been slowed by
// whatever else ran.
constexpr int PASSES = 41;

// C-like source: each line indented 0 to 4 levels of indent, and in
// commented out of every per lines, a tab before a comment at its end.
std::string source_corpus(const std::string &indent, unsigned commented, unsigned per)
{
    Random r;
    std::string s;
    const char words[] = "abcdefghijklmnopqrstuvwxyz_(){};=+*,0123456789";
    while (s.size() < CORPUS) {
        for (unsigned level = r() % 5; level != 0; --level)
            s += indent;
        for (unsigned n = 8 + r() % 50; n != 0; --n)
            s += r() % 6 == 0 ? ' ' : words[r() % (sizeof words - 1)];
        if (r() % per < commented)
            s += "\t// note";
        s += '\n';
    }
    s.resize(CORPUS);
    return s;
}

std::string random_corpus()
{
    Random r;
    std::string s(CORPUS, '\0');
    for (char &c : s)
        c = static_cast<char>(r() >> 24);
    return s;
}

std::string cpu_model()
{
#if defined(__x86_64__) || defined(__i386__)
    unsigned regs[12];
    if (static_cast<unsigned>(__get_cpuid_max(0x80000000u, nullptr)) >= 0x80000004u) {
        for (unsigned i = 0; i < 3; ++i)
            __cpuid(0x80000002 + i, regs[4 * i], regs[4 * i + 1], regs[4 * i + 2], regs[4 * i + 3]);
        std::string name(reinterpret_cast<const char *>(regs), sizeof regs);
        name.resize(std::strlen(name.c_str()));
        unsigned a, b, c, d;
        __cpuid(1, a, b, c, d);
        const unsigned family = ((a >> 8) & 15) + ((a >> 20) & 255);
        const unsigned model = ((a >> 4) & 15) | ((a >> 12) & 0xf0);
        char id[64];
        std::snprintf(id, sizeof id, " (family 0x%x, model 0x%x)", family, model);
        return name + id;
    }
#endif
    return "unknown CPU";
}

// The best of several timings of fn over input, in input bytes per ns.
double speed(std::size_t (*fn)(const std::string &, int, void (*)()), const std::string &input,
             int stop, void (*path)())
{
    double best = 0;
    for (int rep = 0; rep < PASSES; ++rep) {
        const auto t0 = std::chrono::steady_clock::now();
        fn(input, stop, path);
        const std::chrono::duration<double, std::nano> t = std::chrono::steady_clock::now() - t0;
        best = std::max(best, static_cast<double>(input.size()) / t.count());
    }
    return best;
}

int table()
{
    const struct {
        const char *name;
        std::string text;
        int stop;
    } corpora[] = {
        // Indented with tabs, a quarter of the lines commented.
        {"source, stop 8", source_corpus("\t", 1, 4), 8},
        {"source, stop 4", source_corpus("\t", 1, 4), 4},
        // Indented with four spaces a level, two lines in five commented:
        // text with few tabs.
        {"sparse text, stop 8", source_corpus("    ", 2, 5), 8},
        {"random bytes, stop 8", random_corpus(), 8},
        {"all tabs, stop 8", std::string(CORPUS, '\t'), 8},
    };
    const std::string &sparse = corpora[2].text;
    char share[16];
    std::snprintf(share, sizeof share, "%.2f%%",
                  100.0 * static_cast<double>(std::count(sparse.begin(), sparse.end(), '\t')) /
                      static_cast<double>(sparse.size()));
    std::cout << "expand_block alone, input GB/s, best of " << PASSES << " passes over 8 MiB; "
              << cpu_model() << "; sparse text is " << share << " tabs\n\n| corpus | memcpy |";
    std::vector<TestedPath> paths;
    for (const TestedPath &p : all_paths)
        if (p.in_program && expand_path_runs_here(p.kind)) {
            paths.push_back(p);
            std::cout << ' ' << p.name << " |";
        }
    std::cout << "\n|---|---:|";
    for (std::size_t i = 0; i < paths.size(); ++i)
        std::cout << "---:|";
    std::cout << '\n';
    for (const auto &c : corpora) {
        char cell[32];
        std::snprintf(cell, sizeof cell, "%.2f", speed(copy_all, c.text, c.stop, nullptr));
        std::cout << "| " << c.name << " | " << cell << " |";
        for (const TestedPath &p : paths) {
            std::snprintf(cell, sizeof cell, "%.2f", speed(expand_all, c.text, c.stop, p.run));
            std::cout << ' ' << cell << " |";
        }
        std::cout << '\n';
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 1)
        return table();
    if (argc != 3) {
        std::cerr << "usage: kernel_bench [PATH STOP <input]\n";
        return 2;
    }
    for (const TestedPath &p : all_paths)
        if (argv[1] == std::string(p.name)) {
            if (!expand_path_runs_here(p.kind)) {
                std::cerr << "kernel_bench: this CPU cannot run the " << p.name << " path\n";
                return 1;
            }
            const std::string input(std::istreambuf_iterator<char>(std::cin), {});
            std::cout << expand_all(input, std::stoi(argv[2]), p.run) << '\n';
            return 0;
        }
    std::cerr << "kernel_bench: no path named " << argv[1] << '\n';
    return 2;
}
