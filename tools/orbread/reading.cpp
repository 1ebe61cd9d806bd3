#include "reading.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

#include <unistd.h>

#include <opencv2/core.hpp>

#include "annotation.h"
#include "image_loading.h"
#include "orb/payload/module_layout.h"
#include "orb/result_code.h"

namespace orbread {

namespace {

StandardInput& standardInput()
{
    static StandardInput input;
    return input;
}

// The layout and code types the user chose, for a message; empty when both are the defaults.
std::string restriction(const orb::ReaderOptions& reader)
{
    std::string chosen;
    if (reader.codeTypes != orb::CodeTypes::Both)
        chosen += std::string("--code-type ") + (reader.codeTypes == orb::CodeTypes::Color ? "color" : "bw");
    if (reader.layout != orb::kAnyLayout)
        chosen += std::string(chosen.empty() ? "" : " ") + "--layout " + orb::layoutName(reader.layout);
    return chosen;
}

} // namespace

void useStandardInput(StandardInput input) { standardInput() = std::move(input); }

ImageReport readInput(const Input& input, const Options& options, const std::string& annotation)
{
    ImageReport report;
    const auto start = std::chrono::steady_clock::now();
    auto finish = [&] {
        report.milliseconds =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        return report;
    };
    switch (input.problem) {
    case Problem::None: break;
    case Problem::Warning: report.outcome = Outcome::Note; report.error = input.message; return report;
    case Problem::NoImages: report.outcome = Outcome::NoCode; report.error = input.message; return report;
    case Problem::Unreadable: report.outcome = Outcome::Unreadable; report.error = input.message; return report;
    }

    orb::ImageLoad load;
    if (input.standardInput && standardInput().path.empty()) load.reason = standardInput().error;
    else load = loadInputImage(input.standardInput ? standardInput().path : input.path.string());
    if (load.status != orb::ImageLoad::Status::Loaded) {
        report.outcome = Outcome::Unreadable;
        if (load.status == orb::ImageLoad::Status::TooLarge) report.error = "image too large: " + load.reason;
        else if (std::error_code error; !input.standardInput && std::filesystem::is_regular_file(input.path, error) &&
                                        std::filesystem::file_size(input.path, error) == 0)
            report.error = "cannot read: empty file";
        else report.error = "cannot read: " + load.reason;
        return finish();
    }
    try {
        orb::CodeSearch search = orb::searchCodes(load.image, options.reader, options.maxCodes);
        report.codes = std::move(search.codes);
        report.failed = std::move(search.failed);
        report.candidateLimitReached = search.candidateLimitReached;
        report.warning = load.warning;
        // Later pages are loaded one at a time, so only one is held at once.
        if (load.pages > 1 && !input.standardInput) {
            report.codePages.assign(report.codes.size(), 1);
            for (int page = 1; page < load.pages; ++page) {
                const orb::ImageLoad more = orb::loadImage(input.path.string(), orb::kMaxImagePixels, page);
                const std::string pageName = "page " + std::to_string(page + 1) + ": ";
                if (more.status != orb::ImageLoad::Status::Loaded) {
                    if (report.warning.empty()) report.warning = pageName + more.reason;
                    continue;
                }
                if (report.warning.empty() && !more.warning.empty()) report.warning = pageName + more.warning;
                orb::CodeSearch pageSearch = orb::searchCodes(more.image, options.reader, options.maxCodes);
                report.candidateLimitReached = report.candidateLimitReached || pageSearch.candidateLimitReached;
                for (orb::ReadResult& code : pageSearch.codes) {
                    report.codes.push_back(std::move(code));
                    report.codePages.push_back(page + 1);
                }
            }
        }
        report.outcome = report.codes.empty() ? Outcome::NoCode : Outcome::Codes;
        if (report.codes.empty()) report.error = std::string("no code found (") + orb::resultText(search.error) + ")";
        // A damaged file without a code is reported as damaged, not as one without a code.
        if (report.codes.empty() && !report.warning.empty()) {
            report.outcome = Outcome::Unreadable;
            report.error = "cannot read: " + report.warning;
        }
        // Only after a failure, so reads that succeed cost nothing more.
        if (const std::string chosen = restriction(options.reader);
            report.outcome == Outcome::NoCode && !chosen.empty()) {
            orb::ReaderOptions defaults = options.reader;
            defaults.codeTypes = orb::CodeTypes::Both;
            defaults.layout = orb::kAnyLayout;
            if (!orb::searchCodes(load.image, defaults, 1).codes.empty())
                report.error = "no code found with " + chosen + "; the default (auto) reads it";
        }
    } catch (const std::exception& e) {
        report.outcome = Outcome::Unreadable;
        report.error = std::string("cannot read codes: ") + e.what();
    }
    finish();
    if (!annotation.empty()) {
        try {
            if (!writeAnnotation(annotation, load.image, report.codes, report.failed))
                report.annotationError = "cannot write " + annotation;
        } catch (const std::exception& e) {
            report.annotationError = "cannot write " + annotation + ": " + e.what();
        }
    }
    return report;
}

int readerThreads(int requested, std::size_t inputs)
{
    int threads = requested > 0 ? requested : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    threads = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(threads), std::max<std::size_t>(inputs, 1)));
    // Several images at once keep the cores busy by themselves; the image
    // library's own threads would then only compete with them.
    cv::setNumThreads(threads > 1 ? 1 : -1);
    return threads;
}

void readAll(const std::vector<Input>& inputs, const Options& options, const std::vector<std::string>& annotations,
             int threads, const std::function<bool(std::size_t, ImageReport&)>& deliver,
             const std::function<void(std::size_t)>& tick)
{
    const std::size_t count = inputs.size();
    std::vector<std::optional<ImageReport>> reports(count);
    std::mutex lock;
    std::condition_variable changed;
    std::atomic<std::size_t> nextInput{0};
    std::atomic<bool> stop{false};
    std::size_t done = 0;

    auto work = [&] {
        for (;;) {
            if (stop) return;
            const std::size_t index = nextInput++;
            if (index >= count) return;
            ImageReport report = readInput(inputs[index], options, annotations.empty() ? std::string() : annotations[index]);
            {
                std::lock_guard<std::mutex> guard(lock);
                reports[index] = std::move(report);
                ++done;
            }
            changed.notify_one();
        }
    };
    std::vector<std::thread> workers;
    for (int i = 0; i < std::max(1, threads); ++i) workers.emplace_back(work);

    std::size_t delivered = 0;
    std::size_t seen = 0;
    std::unique_lock<std::mutex> guard(lock);
    while (delivered < count) {
        changed.wait_for(guard, std::chrono::milliseconds(250), [&] { return done != seen; });
        const std::size_t doneNow = seen = done;
        std::vector<std::pair<std::size_t, ImageReport>> ready;
        while (delivered < count && reports[delivered]) {
            ready.emplace_back(delivered, std::move(*reports[delivered]));
            reports[delivered].reset();
            ++delivered;
        }
        guard.unlock();
        bool going = true;
        for (auto& [index, report] : ready)
            if (going && !deliver(index, report)) going = false;
        if (tick) tick(doneNow);
        guard.lock();
        if (!going) {
            stop = true;
            break;
        }
    }
    guard.unlock();
    for (std::thread& worker : workers) worker.join();
}

} // namespace orbread
