// Captures what the code under test writes to standard output.
#pragma once

#include <cstdio>
#include <string>
#include <unistd.h>

class StdoutCapture {
public:
    StdoutCapture() : file_(std::tmpfile()), saved_(dup(STDOUT_FILENO)) {
        std::fflush(stdout);
        dup2(fileno(file_), STDOUT_FILENO);
    }
    ~StdoutCapture() {
        restore();
        std::fclose(file_);
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Everything written so far; capturing ends.
    std::string text() {
        restore();
        std::string all;
        std::rewind(file_);
        for (int c; (c = std::fgetc(file_)) != EOF;) all.push_back(static_cast<char>(c));
        return all;
    }

private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        saved_ = -1;
    }
    std::FILE* file_;
    int saved_;
};
