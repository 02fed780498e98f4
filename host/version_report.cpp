#include "version_report.h"

#include "hub/ds/request.h"
#include "hub/trace.h"

namespace host {

namespace {

// A library that exports only its registration entry hands its build
// information to the trace facility, through the unit block of every traced
// function; one traced call makes it known.
const JwbldValues* tracedBuildInformation(const PRB1_VectorRecord& vector) {
    hub::ds::Request probe("(version probe)");
    vector.terminate.entry(probe.handle());
    for (const auto& unit : hub::trace::knownUnits()) {
        if (unit.buildInformation == nullptr) continue;
        const JwbldValues* values = nullptr;
        unit.buildInformation(&values);
        if (values != nullptr) return values;
    }
    return nullptr;
}

void printTexts(std::ostream& out, const char* title, const char* const* texts, int count) {
    out << title << ":\n";
    for (int i = 0; i < count && texts[i] != nullptr; ++i) {
        out << "  " << (i + 1 < 10 ? " " : "") << i + 1 << "  " << texts[i] << '\n';
    }
}

}  // namespace

void printVersion(std::ostream& out, const ProviderLibrary& provider, const PRB1_VectorRecord& vector) {
    const char* version = nullptr;
    const char* date = nullptr;
    const char* time = nullptr;
    vector.version.entry(&version, &date, &time);
    out << kHostVersion << '\n'
        << "Provider " << provider.path().string() << '\n'
        << "Version " << (version ? version : "?") << ", compiled " << (date ? date : "?") << ' '
        << (time ? time : "?") << '\n';

    const JwbldValues* values = provider.exportedBuildInformation();
    if (values == nullptr) values = tracedBuildInformation(vector);
    if (values == nullptr) {
        out << "Build information: not available\n";
        return;
    }
    printTexts(out, "Build information", values->info, values->infoCount);
    printTexts(out, "Build comments", values->comments, values->commentCount);
}

}  // namespace host
