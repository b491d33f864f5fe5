// zelmiran-flash's back end of the operator dialogue (dialogue_record.cpp)
// records what the shared code shows instead of showing it: the outcome box,
// the console lines, and the run's progress for the bar.
#pragma once

#include <string>
#include <vector>

class ProgressBar;

struct DialogueRecord {
    int error_box = 0;         // N of the last box "Error N"; 0 when none
    bool success_box = false;  // the last box told of success
    std::vector<std::string> lines;  // console lines, UTF-8, blanks and progress marks gone
};

// What a progress pass of the shared code is called on the bar.
struct PassLabels {
    std::string erase;
    std::string write;
    std::string compare;
    std::string lock;
};

// Starts a fresh record. Regions and pages go to `progress` (may be null);
// the write and compare passes count up to `image_pages`.
void begin_dialogue_record(ProgressBar* progress, const PassLabels& labels, int image_pages);
// The record so far; the progress is left alone from now on.
DialogueRecord end_dialogue_record();

// The lines as one text for a result's detail.
std::string joined_lines(const std::vector<std::string>& lines);
