#include "report.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace veloxa::bench {

void die(const std::string &message)
{
    std::fprintf(stderr, "%s\n", message.c_str());
    std::exit(2);
}

void fail(const std::string &what)
{
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, what.c_str());
    std::exit(1);
}

Options::Options(int argc, char **argv, std::map<std::string, std::string> defaults, const char *usage)
    : m_values(std::move(defaults))
    , m_usage(usage)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::printf("%s\n", m_usage.c_str());
            std::exit(0);
        }
        std::string value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        if (arg.rfind("--", 0) != 0 || !m_values.count(arg.substr(2)))
            die("unknown option " + arg + "\n" + m_usage);
        if (!hasValue) {
            if (i + 1 >= argc)
                die(arg + " needs a value\n" + m_usage);
            value = argv[++i];
        }
        m_values[arg.substr(2)] = value;
    }
}

long long Options::number(const std::string &name) const
{
    const std::string &t = m_values.at(name);
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(t.c_str(), &end, 10);
    if (t.empty() || *end != '\0' || errno != 0 || v < 0)
        die("--" + name + " wants a whole number, not '" + t + "'\n" + m_usage);
    return v;
}

Summary summarize(std::vector<double> values)
{
    Summary s;
    s.samples = values.size();
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    const auto rank = [&](double p) {
        const auto r = std::size_t(std::ceil(p * double(values.size())));
        return values[std::clamp<std::size_t>(r, 1, values.size()) - 1];
    };
    const std::size_t n = values.size();
    s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
    s.p99 = rank(0.99);
    s.min = values.front();
    s.max = values.back();
    return s;
}

std::string fixed(double value, int decimals)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

std::string ratioText(double value, double floor)
{
    return floor > 0 ? fixed(value / floor, 2) : "n/a";
}

namespace {

int decimalsFor(double v)
{
    const double a = std::fabs(v);
    return a == 0 || a >= 100 ? 1 : a >= 1 ? 3 : 4;
}

std::string csvCell(const std::string &text)
{
    if (text.find_first_of(",\"\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

} // namespace

Report::Report(std::string benchmark, std::string title)
    : m_benchmark(std::move(benchmark))
    , m_title(std::move(title))
{
}

void Report::addSummary(const std::string &measure, const Summary &s, const std::string &unit, const std::string &goal,
                        const std::string &ratio, const std::string &verdictText)
{
    m_rows.push_back({measure, std::to_string(s.samples), fixed(s.median, decimalsFor(s.median)),
                      fixed(s.p99, decimalsFor(s.p99)), fixed(s.min, decimalsFor(s.min)),
                      fixed(s.max, decimalsFor(s.max)), unit, goal, ratio, verdictText});
}

void Report::addValue(const std::string &measure, double value, const std::string &unit, const std::string &goal,
                      const std::string &ratio, const std::string &verdictText)
{
    m_rows.push_back(
        {measure, std::to_string(1), fixed(value, decimalsFor(value)), {}, {}, {}, unit, goal, ratio, verdictText});
}

bool Report::finish(const std::string &csvDir) const
{
    const std::vector<std::string> headers = {"measure", "n",    "median", "p99",     "min",
                                              "max",     "unit", "goal",   "x floor", "goal met"};
    std::vector<std::size_t> widths(headers.size());
    for (std::size_t c = 0; c < headers.size(); ++c) {
        widths[c] = headers[c].size();
        for (const auto &line : m_rows)
            widths[c] = std::max(widths[c], line[c].size());
    }
    const auto printLine = [&](const std::vector<std::string> &line) {
        std::string out;
        for (std::size_t c = 0; c < line.size(); ++c) {
            const bool left = c == 0 || c == 6 || c == 7;
            const std::string pad(widths[c] - line[c].size(), ' ');
            out += left ? line[c] + pad : pad + line[c];
            out += c + 1 < line.size() ? "  " : "";
        }
        while (!out.empty() && out.back() == ' ')
            out.pop_back();
        std::printf("%s\n", out.c_str());
    };
    std::printf("\n== %s: %s\n", m_benchmark.c_str(), m_title.c_str());
    printLine(headers);
    for (const auto &line : m_rows)
        printLine(line);
    for (const auto &n : m_notes)
        std::printf("  %s\n", n.c_str());
    std::fflush(stdout);

    std::error_code error;
    std::filesystem::create_directories(csvDir, error);
    const std::string path = csvDir + "/" + m_benchmark + ".csv";
    std::ofstream csv(path, std::ios::trunc);
    csv << "measure,samples,median,p99,min,max,unit,goal,ratio_to_floor,goal_met\n";
    for (const auto &row : m_rows) {
        for (std::size_t c = 0; c < row.size(); ++c)
            csv << (c == 0 ? "" : ",") << csvCell(row[c]);
        csv << '\n';
    }
    for (const auto &n : m_notes)
        csv << "# " << n << '\n';
    csv.close();
    if (!csv) {
        std::fprintf(stderr, "%s: cannot write %s\n", m_benchmark.c_str(), path.c_str());
        return false;
    }
    std::printf("  (written to %s)\n", path.c_str());
    return true;
}

} // namespace veloxa::bench
