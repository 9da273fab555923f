#pragma once
// What every benchmark prints: its options, statistics of its samples, and
// its results as a table and a CSV file, with the goals and whether they
// were met.

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace veloxa::bench {

// Prints the message and ends the program with exit status 2: a bad option or
// a set-up that cannot be measured.
[[noreturn]] void die(const std::string &message);
// Prints "<program>: what" and ends the program with exit status 1: a
// benchmark that could not measure what it should.
[[noreturn]] void fail(const std::string &what);

// --name value options. Unknown names end the program with a usage message.
class Options {
public:
    Options(int argc, char **argv, std::map<std::string, std::string> defaults, const char *usage);
    std::string text(const std::string &name) const { return m_values.at(name); }
    long long number(const std::string &name) const; // ends the program on a bad number

private:
    std::map<std::string, std::string> m_values;
    std::string m_usage;
};

struct Summary {
    std::size_t samples = 0;
    double median = 0, p99 = 0, min = 0, max = 0;
};
// Median and p99 by the nearest-rank method (p99 of 10 samples is the largest).
Summary summarize(std::vector<double> values);

// One benchmark's results: printed as a table, written as a CSV with the
// same columns (measure, samples, median, p99, min, max, unit, goal,
// ratio_to_floor, verdict). Empty cells where a column does not apply.
class Report {
public:
    Report(std::string benchmark, std::string title);

    void addSummary(const std::string &measure, const Summary &s, const std::string &unit, const std::string &goal = {},
                    const std::string &ratio = {}, const std::string &verdict = {});
    // A single figure: shown in the median column.
    void addValue(const std::string &measure, double value, const std::string &unit, const std::string &goal = {},
                  const std::string &ratio = {}, const std::string &verdict = {});
    // Printed under the table, kept in the CSV as a "# " line at the end.
    void note(const std::string &line) { m_notes.push_back(line); }

    // Prints the table and writes <csvDir>/<benchmark>.csv; false when the
    // CSV could not be written.
    bool finish(const std::string &csvDir) const;

private:
    std::string m_benchmark, m_title;
    std::vector<std::vector<std::string>> m_rows; // the cells of the columns above, in order
    std::vector<std::string> m_notes;
};

std::string fixed(double value, int decimals);
std::string ratioText(double value, double floor); // "3.21" or "n/a" when the floor is 0
inline const char *verdict(bool met)
{
    return met ? "met" : "MISSED";
}

} // namespace veloxa::bench
