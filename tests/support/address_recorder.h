// Makes the addresses that the program hands to the desktop observable: a
// stand-in "xdg-open" first on PATH appends each address it is given to a
// file, and drain() collects them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

class AddressRecorder {
public:
    // `folder` must be an absolute path that lives as long as the recorder.
    explicit AddressRecorder(const std::string& folder)
        : bin_(folder + "/recorder-bin"), log_(folder + "/opened.txt") {
        std::filesystem::create_directories(bin_);
        const std::string script = bin_ + "/xdg-open";
        {
            std::ofstream out(script, std::ios::trunc);
            // One line per call: the argument count, a tab, the first argument.
            out << "#!/bin/sh\nprintf '%s\\t%s\\n' \"$#\" \"$1\" >> '" << log_ << "'\n";
        }
        std::filesystem::permissions(script, std::filesystem::perms::owner_all |
                                                 std::filesystem::perms::group_read |
                                                 std::filesystem::perms::group_exec);
        const char* path = std::getenv("PATH");
        previousPath_ = path ? path : "";
        setenv("PATH", (bin_ + ":" + previousPath_).c_str(), 1);
    }

    ~AddressRecorder() { setenv("PATH", previousPath_.c_str(), 1); }

    // The folder holding the stand-in handler.
    const std::string& folder() const { return bin_; }

    AddressRecorder(const AddressRecorder&) = delete;
    AddressRecorder& operator=(const AddressRecorder&) = delete;

    // The addresses opened since the last call, in the order the handler
    // processes wrote them (which need not be the order of the calls). A
    // marker address is opened last and waited for, so every earlier call
    // has had its turn.
    std::vector<std::string> drain() {
        const std::string marker = "https://marker.invalid/";
        openAddress(marker);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        auto recorded = [&] {
            std::vector<std::string> all = lines();
            return std::find(all.begin(), all.end(), "1\t" + marker) != all.end();
        };
        while (!recorded()) {
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the stand-in handler never recorded the marker";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        // Handlers started before the marker get a moment more to finish.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::vector<std::string> opened;
        for (const std::string& line : lines()) {
            std::string::size_type tab = line.find('\t');
            EXPECT_EQ(line.substr(0, tab), "1") << "the handler got more than one argument: " << line;
            std::string address = line.substr(tab + 1);
            if (address != marker) opened.push_back(address);
        }
        std::filesystem::remove(log_);
        return opened;
    }

private:
    std::vector<std::string> lines() const {
        std::ifstream in(log_);
        std::vector<std::string> result;
        std::string line;
        while (std::getline(in, line)) result.push_back(line);
        return result;
    }

    std::string bin_;
    std::string log_;
    std::string previousPath_;
};
