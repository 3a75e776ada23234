// A scripted stand-in for the user: records every message, answers questions and the save dialog
// as told, and tracks the hourglass and the busy window.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "catalogue/SheetSink.h"
#include "common/UserPrompts.h"

#include <string>
#include <vector>

namespace gq::test {

class FakePrompts : public UserPrompts {
public:
    void ShowMessage(const std::string& text, const std::string& details = {}) override
    {
        messages.push_back(text);
        lastDetails = details;
        Log("message:" + text);
    }
    bool AskYesNo(const std::string& text, const std::string& caption) override
    {
        questions.push_back(caption + ":" + text);
        Log("ask");
        return answerYes;
    }
    bool ChooseSaveFile(const std::string& defaultExtension, const std::string& filter, const std::string& initialName,
                        std::string& chosenPath) override
    {
        dialogs.push_back(defaultExtension + "|" + filter + "|" + initialName);
        Log("dialog");
        if (!saveAs.empty()) {
            chosenPath = saveAs;
            return true;
        }
        return false;
    }
    void BeginHourglass() override
    {
        ++hourglassDepth;
        Log("hourglass on");
    }
    void EndHourglass() override
    {
        --hourglassDepth;
        Log("hourglass off");
    }
    // Answers "stop" from the (stopAfter + 1)-th check on; a negative count never stops.
    bool StopRequested() override
    {
        ++stopChecks;
        return stopAfter >= 0 && stopChecks > stopAfter;
    }
    int stopAfter = -1;
    int stopChecks = 0;

    void ShowBusy(bool show, bool cancelVisible) override
    {
        busyVisible = show;
        if (show) {
            cancelShown = cancelVisible;
        }
        Log(show ? "busy on" : "busy off");
    }

    // When set, every event also goes to this log (e.g. a fake server's transcript), so the order
    // of user-visible effects and server calls can be checked together.
    std::vector<std::string>* sharedLog = nullptr;

    // Script: the path the save dialog returns (empty: the user cancels) and the Yes/No answer.
    std::string saveAs;
    bool answerYes = true;

    std::vector<std::string> messages;
    std::string lastDetails;
    std::vector<std::string> questions;
    std::vector<std::string> dialogs;
    std::vector<std::string> events;
    int hourglassDepth = 0;

private:
    void Log(const std::string& event)
    {
        events.push_back(event);
        if (sharedLog != nullptr) {
            sharedLog->push_back("[" + event + "]");
        }
    }

public:
    bool busyVisible = false;
    bool cancelShown = false;
};

// A list that records what the listing does to it.
class RecordingSink : public catalogue::SheetSink {
public:
    void BeginBatch() override
    {
        ++depth;
        calls.push_back("begin");
    }
    void AppendEntries(const std::vector<catalogue::SheetEntry>& added) override
    {
        for (const catalogue::SheetEntry& entry : added) {
            entries.push_back(entry);
            calls.push_back("append " + entry.SheetName);
        }
    }
    void EndBatch() override
    {
        --depth;
        calls.push_back("end");
    }

    std::vector<catalogue::SheetEntry> entries;
    std::vector<std::string> calls;
    int depth = 0;
};

} // namespace gq::test
