// Drives a simulated node with the tool's own request builders and reads its
// frames back through the tool's own packet decoding.
#pragma once

#include "frame_naming.h"
#include "frame_packet.h"
#include "requests.h"
#include "simulated_unit.h"

#include <chrono>
#include <vector>

struct SimBench {
    // Started, with its boot-up frame taken.
    explicit SimBench(const tervix::sim::SimOptions& o = {}) : sim(o)
    {
        sim.Step(now);
        bootUp = Take();
    }

    tervix::sim::SimulatedUnit sim;
    tervix::sim::SimulatedUnit::Time now{};
    std::vector<tervix::FramePacket> bootUp;

    // Lets time pass and collects what the node sent meanwhile.
    std::vector<tervix::FramePacket> Advance(std::chrono::milliseconds d)
    {
        now += d;
        sim.Step(now);
        return Take();
    }

    std::vector<tervix::FramePacket> Send(const tervix::BusFrame& f)
    {
        sim.Receive(f, now);
        sim.Step(now);
        return Take();
    }
    std::vector<tervix::FramePacket> Send(const tervix::Request& r)
    {
        return Send(*tervix::DecodePacket(r.packet));
    }

    std::vector<tervix::FramePacket> Take()
    {
        std::vector<tervix::FramePacket> out;
        for (const tervix::BusFrame& f : sim.TakeFrames())
            out.push_back(tervix::EncodePacket(f));
        return out;
    }

    // The single answer of one function code among the frames a request brought.
    static std::vector<tervix::FramePacket> OfCode(const std::vector<tervix::FramePacket>& frames, int code)
    {
        std::vector<tervix::FramePacket> out;
        for (const auto& p : frames)
            if (tervix::ClassifyMessage(p).functionCode == code)
                out.push_back(p);
        return out;
    }

    void Start() { Send(tervix::NmtRequest(tervix::kNmtStart, sim.Node())); }
};
