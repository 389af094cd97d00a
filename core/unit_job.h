// Backup, compare and restore of one node's settings over SDO, shared by
// the window and tervix-cli. A job runs its reads and writes through the
// CanopenClient one after another, each queued from the end of the one
// before, so the node is never left idle between them and a cancel takes
// effect at the next step. Time is passed in; nothing here reads a clock.
#pragma once

#include "canopen_client.h"
#include "config_file.h"
#include "dcf.h"

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tervix {

// What a backup reads: device type, name, versions and identity, then
// every row of the four pages for each unit (page by page, unit by unit),
// then what the EDS marks readable that these do not cover. Objects the EDS
// marks write-only are listed with a failure and not read.
std::vector<DcfEntry> BackupPlan(const std::array<PageSection, kPageCount>& pages,
                                 const std::vector<std::uint8_t>& units, const EdsObjects* eds);

enum class RestoreOutcome : std::uint8_t {
    Verified,    // written and read back the same
    Unchanged,   // the unit holds the file's value already
    Refused,     // the unit aborted the write
    NotVerified, // written, but read back otherwise (or not at all)
    WouldWrite,  // dry run
    Failed,      // no answer, or the frame did not go out
};
std::string_view RestoreOutcomeText(RestoreOutcome outcome);

struct RestoreRow {
    std::uint16_t index = 0;
    std::uint8_t subIndex = 0;
    bool isSub = false;
    std::string name;
    std::string value; // the file's, canonical
    RestoreOutcome outcome = RestoreOutcome::Unchanged;
    std::string detail; // abort text, the value read back, what failed
};

struct RestoreOptions {
    bool all = false;    // write every writable value, not only those that differ
    bool force = false;  // write to a unit of another device type or product
    bool dryRun = false; // read and list, write nothing
};

class UnitJob {
public:
    enum class Kind : std::uint8_t { Backup, Compare, Restore };
    using Finished = std::function<void()>;

    // Reads `plan` into a document (Result()); commissioning as given,
    // its name and serial number filled from 1008 and 1018 sub 4.
    static std::unique_ptr<UnitJob> Backup(CanopenClient& client, unsigned node, std::vector<DcfEntry> plan,
                                           DcfCommissioning commissioning, Finished finished);
    // Reads the file's objects from the unit (Result()) and compares
    // (Comparison()): the file is a, the unit b.
    static std::unique_ptr<UnitJob> Compare(CanopenClient& client, unsigned node, DcfDocument file,
                                            const EdsObjects* eds, Finished finished);
    // Checks device type, vendor and product, reads what the file would
    // write, writes what differs (or all) in page order and reads each back.
    // $NODEID in the file's values is the node written to.
    static std::unique_ptr<UnitJob> Restore(CanopenClient& client, unsigned node, DcfDocument file,
                                            const EdsObjects* eds, RestoreOptions options, Finished finished);

    ~UnitJob();
    UnitJob(const UnitJob&) = delete;
    UnitJob& operator=(const UnitJob&) = delete;

    void Start(TimePoint now);
    // Stops after the step under way (or at once when its answer is not
    // needed); Finished is called.
    void Cancel(TimePoint now);

    Kind JobKind() const { return kind_; }
    unsigned Node() const { return node_; }
    bool Running() const { return running_; }
    bool Cancelled() const { return cancelled_; }
    // Object n of N: steps ended and steps known so far (a restore learns
    // its writes after its reads).
    std::size_t Step() const { return step_; }
    std::size_t Steps() const { return steps_.size(); }

    // Backup and compare: the objects as read, failures included.
    const DcfDocument& Result() const { return result_; }
    std::size_t Failures() const;
    const std::vector<CompareRow>& Comparison() const { return comparison_; }
    const std::vector<RestoreRow>& Report() const { return report_; }
    // Why a restore wrote nothing: another device, or the check failed.
    const std::string& Refusal() const { return refusal_; }
    // The first send failure: the adapter is gone, the job ended.
    const std::string& SendError() const { return sendError_; }
    // The node answered not even the first request in time: the job ended.
    bool NoAnswer() const { return noAnswer_; }

private:
    struct Action {
        bool upload = true;
        std::uint16_t index = 0;
        std::uint8_t subIndex = 0;
        std::vector<std::uint8_t> data;
        std::size_t entry = 0; // into result_.entries (reads) or restore_ (writes)
    };
    enum class Phase : std::uint8_t { Reading, Writing };

    UnitJob(Kind kind, CanopenClient& client, unsigned node, Finished finished);
    void QueueNext(TimePoint now);
    void StepDone(const SdoResult& result);
    void ReadDone(const Action& step, const SdoResult& result);
    void WriteStepDone(const Action& step, const SdoResult& result);
    void PhaseDone(TimePoint now);
    bool CheckIdentity();
    void PlanWrites();
    void Finish();

    Kind kind_;
    CanopenClient& client_;
    unsigned node_;
    Finished finished_;
    const EdsObjects* eds_ = nullptr;
    RestoreOptions options_;
    DcfDocument file_;   // compare and restore: the file given
    DcfDocument result_; // what was read
    std::vector<Action> steps_;
    std::size_t step_ = 0;
    Phase phase_ = Phase::Reading;
    std::optional<SdoTransferId> transfer_;
    std::set<std::size_t> skip_; // read-backs of writes the unit refused
    std::size_t failures_ = 0;
    bool waiting_ = false; // for the answer of the step queued last
    bool answered_ = false; // the node answered a request (or aborted it)
    bool noAnswer_ = false;
    bool running_ = false;
    bool cancelled_ = false;
    std::vector<CompareRow> comparison_;
    struct Write {
        std::vector<std::uint8_t> bytes;
        std::optional<std::uint16_t> dataType;
        std::size_t row; // into report_
    };
    std::vector<Write> writes_;
    std::vector<RestoreRow> report_;
    std::string refusal_;
    std::string sendError_;
    // Shared with the transfers' callbacks: a job destroyed while one runs
    // is not called back.
    std::shared_ptr<UnitJob*> self_;
};

} // namespace tervix
