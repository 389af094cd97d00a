#include "unit_job.h"

#include "hex_text.h"

#include <algorithm>
#include <set>
#include <tuple>

namespace tervix {

namespace {

struct Identity {
    std::uint16_t index;
    std::uint8_t subIndex;
    std::string_view what;
};
constexpr Identity kIdentity[] = {
    {0x1000, 0, "device type"},
    {0x1018, 1, "vendor"},
    {0x1018, 2, "product"},
};

std::string AbortText(const SdoResult& r)
{
    switch (r.outcome) {
    case SdoOutcome::Done: return {};
    case SdoOutcome::Aborted: {
        std::string text = "abort " + Hex8(r.abort ? r.abort->code : 0);
        if (r.abort && !r.abort->text.empty())
            text += " " + std::string(r.abort->text);
        return text;
    }
    case SdoOutcome::TimedOut: return "no answer";
    case SdoOutcome::SendFailed: return "not sent: " + r.sendError;
    }
    return {};
}

// Page objects by page, unit and sub-index; the others after them, as they came.
std::tuple<std::size_t, unsigned, unsigned> RestoreRank(const DcfEntry& e)
{
    if (const auto page = PageOfIndex(e.index))
        return {*page, e.index & 0xFFu, e.subIndex};
    return {kPageCount, 0, 0};
}

// The label a page row shows after its number: "03  Zero range" -> "Zero range".
std::string RowName(const ParamRow& row)
{
    const std::size_t text = row.label.find_first_not_of(' ', 2);
    return text == std::string::npos ? std::string() : row.label.substr(text);
}

DcfEntry Typed(const DcfEntry& e, const EdsObjects* eds)
{
    DcfEntry described = DescribeObject(e.index, e.subIndex, eds);
    DcfEntry out = e;
    if (eds && eds->Find(e.index, e.subIndex)) {
        out.dataType = described.dataType;
        out.access = described.access;
    }
    if (!out.dataType)
        out.dataType = described.dataType;
    if (out.access == DcfAccess::Unknown)
        out.access = described.access;
    return out;
}

// The file's values a restore may write (rw), page objects first in page
// order, the others after them as the file has them.
std::vector<const DcfEntry*> WritableInPageOrder(const DcfDocument& file, const EdsObjects* eds)
{
    std::vector<const DcfEntry*> writable;
    for (const DcfEntry& e : file.entries)
        if (e.value && Typed(e, eds).access == DcfAccess::ReadWrite)
            writable.push_back(&e);
    std::stable_sort(writable.begin(), writable.end(),
                     [](const DcfEntry* a, const DcfEntry* b) { return RestoreRank(*a) < RestoreRank(*b); });
    return writable;
}

} // namespace

std::string_view RestoreOutcomeText(RestoreOutcome outcome)
{
    switch (outcome) {
    case RestoreOutcome::Verified: return "written and verified";
    case RestoreOutcome::Unchanged: return "unchanged";
    case RestoreOutcome::Refused: return "refused";
    case RestoreOutcome::NotVerified: return "not verified";
    case RestoreOutcome::WouldWrite: return "would write";
    case RestoreOutcome::Failed: return "failed";
    }
    return {};
}

std::vector<DcfEntry> BackupPlan(const std::array<PageSection, kPageCount>& pages,
                                 const std::vector<std::uint8_t>& units, const EdsObjects* eds)
{
    std::vector<DcfEntry> plan;
    std::set<std::uint32_t> planned;
    auto add = [&](DcfEntry e) {
        if (!planned.insert(e.Address()).second)
            return;
        if (e.access == DcfAccess::WriteOnly)
            e.failure = "write-only";
        plan.push_back(std::move(e));
    };
    add(DescribeObject(0x1000, 0, eds));
    add(DescribeObject(0x1008, 0, eds));
    add(DescribeObject(0x1009, 0, eds));
    add(DescribeObject(0x100A, 0, eds));
    for (std::uint8_t sub = 1; sub <= 4; ++sub)
        add(DescribeObject(0x1018, sub, eds));
    for (std::size_t page = 0; page < kPageCount; ++page)
        for (const std::uint8_t unit : units)
            for (const ParamRow& row : pages[page].rows) {
                const auto index = static_cast<std::uint16_t>(kPages[page].baseIndex | unit);
                DcfEntry e = DescribeObject(index, row.sub, eds);
                if (e.name.empty() || !eds || !eds->Find(index, row.sub))
                    e.name = RowName(row);
                add(std::move(e));
            }
    if (eds)
        for (DcfEntry e : eds->Readable()) {
            const bool otherUnit =
                PageOfIndex(e.index) && std::find(units.begin(), units.end(), e.index & 0xFFu) == units.end();
            if (!otherUnit)
                add(std::move(e));
        }
    return plan;
}

// ---- The job ----------------------------------------------------------------

UnitJob::UnitJob(Kind kind, CanopenClient& client, unsigned node, Finished finished)
    : kind_(kind), client_(client), node_(node), finished_(std::move(finished)),
      self_(std::make_shared<UnitJob*>(this))
{
}

UnitJob::~UnitJob()
{
    *self_ = nullptr;
    if (transfer_)
        (void)client_.Forget(node_, *transfer_, TimePoint{});
}

std::unique_ptr<UnitJob> UnitJob::Backup(CanopenClient& client, unsigned node, std::vector<DcfEntry> plan,
                                         DcfCommissioning commissioning, Finished finished)
{
    std::unique_ptr<UnitJob> job(new UnitJob(Kind::Backup, client, node, std::move(finished)));
    job->result_.entries = std::move(plan);
    job->result_.commissioning = std::move(commissioning);
    for (std::size_t i = 0; i < job->result_.entries.size(); ++i) {
        const DcfEntry& e = job->result_.entries[i];
        if (e.failure.empty())
            job->steps_.push_back({true, e.index, e.subIndex, {}, i});
    }
    return job;
}

std::unique_ptr<UnitJob> UnitJob::Compare(CanopenClient& client, unsigned node, DcfDocument file,
                                          const EdsObjects* eds, Finished finished)
{
    std::unique_ptr<UnitJob> job(new UnitJob(Kind::Compare, client, node, std::move(finished)));
    job->eds_ = eds;
    job->file_ = std::move(file);
    for (const DcfEntry& e : job->file_.entries) {
        if (!e.value)
            continue;
        DcfEntry read = Typed(e, eds);
        read.value.reset();
        job->steps_.push_back({true, e.index, e.subIndex, {}, job->result_.entries.size()});
        job->result_.entries.push_back(std::move(read));
    }
    job->result_.commissioning.nodeId = node;
    return job;
}

std::unique_ptr<UnitJob> UnitJob::Restore(CanopenClient& client, unsigned node, DcfDocument file,
                                          const EdsObjects* eds, RestoreOptions options, Finished finished)
{
    std::unique_ptr<UnitJob> job(new UnitJob(Kind::Restore, client, node, std::move(finished)));
    job->eds_ = eds;
    job->options_ = options;
    job->file_ = std::move(file);
    auto read = [&](DcfEntry e) {
        e.value.reset();
        job->steps_.push_back({true, e.index, e.subIndex, {}, job->result_.entries.size()});
        job->result_.entries.push_back(std::move(e));
    };
    for (const Identity& id : kIdentity)
        read(DescribeObject(id.index, id.subIndex, eds));
    for (const DcfEntry* e : WritableInPageOrder(job->file_, eds))
        if (!job->result_.Find(e->index, e->subIndex))
            read(Typed(*e, eds));
    return job;
}

std::size_t UnitJob::Failures() const
{
    return failures_;
}

void UnitJob::Start(TimePoint now)
{
    running_ = true;
    QueueNext(now);
}

void UnitJob::Cancel(TimePoint now)
{
    if (!running_)
        return;
    cancelled_ = true;
    if (transfer_ && client_.Forget(node_, *transfer_, now)) {
        transfer_.reset();
        Finish();
    }
}

void UnitJob::QueueNext(TimePoint now)
{
    while (running_) {
        if (cancelled_) {
            Finish();
            return;
        }
        if (step_ == steps_.size()) {
            PhaseDone(now);
            return;
        }
        const Action& s = steps_[step_];
        if (skip_.count(step_)) {
            ++step_;
            continue;
        }
        SdoTransfer t = s.upload ? SdoUpload(s.index, s.subIndex) : SdoDownload(s.index, s.subIndex, s.data);
        t.done = [weak = std::weak_ptr<UnitJob*>(self_)](const SdoResult& r) {
            if (const auto self = weak.lock(); self && *self)
                (*self)->StepDone(r);
        };
        waiting_ = true;
        const SdoTransferId id = client_.Queue(node_, std::move(t), now);
        if (waiting_)
            transfer_ = id;
        return;
    }
}

void UnitJob::StepDone(const SdoResult& result)
{
    waiting_ = false;
    transfer_.reset();
    const Action step = steps_[step_];
    ++step_;
    if (result.outcome == SdoOutcome::SendFailed) {
        sendError_ = result.sendError;
        Finish();
        return;
    }
    // A node that has answered nothing at all is not there (a wrong node
    // number or bit rate): the job ends instead of waiting out every object.
    answered_ = answered_ || result.outcome != SdoOutcome::TimedOut;
    if (!answered_) {
        noAnswer_ = true;
        Finish();
        return;
    }
    if (step.upload && phase_ == Phase::Reading)
        ReadDone(step, result);
    else
        WriteStepDone(step, result);
    QueueNext(result.at);
}

void UnitJob::ReadDone(const Action& step, const SdoResult& result)
{
    DcfEntry& e = result_.entries[step.entry];
    if (result.outcome != SdoOutcome::Done) {
        e.failure = AbortText(result);
        ++failures_;
        return;
    }
    std::string why;
    e.value = DcfValueText(result.data, e.dataType, &why);
    if (!e.value) {
        e.failure = why;
        ++failures_;
    }
}

void UnitJob::WriteStepDone(const Action& step, const SdoResult& result)
{
    Write& w = writes_[step.entry];
    RestoreRow& row = report_[w.row];
    if (!step.upload) {
        if (result.outcome == SdoOutcome::Done)
            return; // its read-back comes next
        row.outcome = result.outcome == SdoOutcome::Aborted ? RestoreOutcome::Refused : RestoreOutcome::Failed;
        row.detail = AbortText(result);
        skip_.insert(step_); // the read-back
        return;
    }
    if (result.outcome != SdoOutcome::Done) {
        row.outcome = RestoreOutcome::NotVerified;
        row.detail = "read back: " + AbortText(result);
        return;
    }
    const auto back = DcfValueText(result.data, w.dataType, nullptr);
    if (back && *back == row.value) {
        row.outcome = RestoreOutcome::Verified;
    } else {
        row.outcome = RestoreOutcome::NotVerified;
        // Bytes that do not fit the type show as hex digits.
        row.detail = "read back " + (back ? *back : *DcfValueText(result.data, std::nullopt, nullptr));
    }
}

void UnitJob::PhaseDone(TimePoint now)
{
    if (kind_ == Kind::Backup) {
        if (const DcfEntry* name = result_.Find(0x1008, 0); name && name->value)
            result_.commissioning.nodeName = *name->value;
        if (const DcfEntry* serial = result_.Find(0x1018, 4); serial && serial->value)
            if (const auto n = EdsInteger(*serial->value); n && !n->negative && n->magnitude <= UINT32_MAX)
                result_.commissioning.serialNumber = static_cast<std::uint32_t>(n->magnitude);
        Finish();
        return;
    }
    if (kind_ == Kind::Compare) {
        comparison_ = CompareDcf(file_, result_, eds_);
        Finish();
        return;
    }
    if (phase_ == Phase::Writing) {
        Finish();
        return;
    }
    if (!options_.force && !CheckIdentity()) {
        Finish();
        return;
    }
    PlanWrites();
    phase_ = Phase::Writing;
    if (options_.dryRun || step_ == steps_.size()) {
        Finish();
        return;
    }
    QueueNext(now);
}

bool UnitJob::CheckIdentity()
{
    bool any = false;
    for (const Identity& id : kIdentity) {
        const DcfEntry* inFile = file_.Find(id.index, id.subIndex);
        if (!inFile || !inFile->value)
            continue;
        any = true;
        const DcfEntry* unit = result_.Find(id.index, id.subIndex);
        DcfEntry typed = *inFile;
        typed.dataType = unit->dataType;
        const std::string want = CanonicalValue(typed, node_);
        if (!unit->value) {
            refusal_ = "cannot read the unit's " + std::string(id.what) + " (" + unit->failure + ")";
            return false;
        }
        if (*unit->value != want) {
            refusal_ = "the file is for " + std::string(id.what) + " " + want + ", the unit's is " + *unit->value;
            return false;
        }
    }
    if (!any)
        refusal_ = "the file names no device type, vendor or product";
    return any;
}

void UnitJob::PlanWrites()
{
    for (const DcfEntry* fileEntry : WritableInPageOrder(file_, eds_)) {
        const DcfEntry typed = Typed(*fileEntry, eds_);
        const DcfEntry* unit = result_.Find(typed.index, typed.subIndex);
        RestoreRow row;
        row.index = typed.index;
        row.subIndex = typed.subIndex;
        row.isSub = typed.isSub;
        row.name = typed.name;
        const auto bytes = DcfValueBytes(*typed.value, typed.dataType, node_);
        const auto text = bytes ? DcfValueText(*bytes, typed.dataType, nullptr) : std::nullopt;
        if (!text) {
            row.value = *typed.value;
            row.outcome = RestoreOutcome::Failed;
            row.detail = "the file's value does not read as its data type";
            report_.push_back(std::move(row));
            continue;
        }
        row.value = *text;
        const bool same = unit && unit->value && *unit->value == *text;
        if (same && !options_.all) {
            row.outcome = RestoreOutcome::Unchanged;
            report_.push_back(std::move(row));
            continue;
        }
        if (unit && unit->value)
            row.detail = "unit held " + *unit->value;
        else if (unit)
            row.detail = "unit's value not read: " + unit->failure;
        if (options_.dryRun) {
            row.outcome = RestoreOutcome::WouldWrite;
            report_.push_back(std::move(row));
            continue;
        }
        // Until its read-back says otherwise.
        row.outcome = RestoreOutcome::NotVerified;
        writes_.push_back({*bytes, typed.dataType, report_.size()});
        report_.push_back(std::move(row));
        steps_.push_back({false, typed.index, typed.subIndex, *bytes, writes_.size() - 1});
        steps_.push_back({true, typed.index, typed.subIndex, {}, writes_.size() - 1});
    }
}

void UnitJob::Finish()
{
    if (!running_)
        return;
    running_ = false;
    if (finished_)
        finished_();
}

} // namespace tervix
