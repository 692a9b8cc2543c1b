// Scripted load on a room server: many users in one process, logged in through the real protocol, with
// cameras, chat and (once they hold the right) voice at fixed rates. Every chat line and video frame carries
// its send time, so the run can report what share arrived and how late.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace bots {

struct LoadConfig {
    std::string host = "127.0.0.1";
    uint16_t port = 0;
    int rooms = 1;
    int users_per_room = 50;
    int cameras_per_room = 10; // the first users of each room after the host send video
    int watched_per_user = 3;  // each user watches this many of the room's cameras (the client's limit)
    int fps = 15;
    size_t frame_bytes = 4096;
    double chat_per_second = 10; // per room, spread over its users
    int speakers_per_room = 0;   // users granted the speak right who send a voice packet every 20 ms
    double seconds = 120;
    uint32_t first_user = 10000;
    uint32_t first_room = 500;
    int server_pid = 0; // when set, its CPU and memory are sampled at the start and the end
    // Further room servers (the nodes of a cluster): user u of room r logs in at server (u + r) mod the
    // number of servers, so every room has users on every node and the rooms' first users (their homes)
    // are spread too. Their pids add to the CPU and memory figures.
    std::vector<std::pair<std::string, uint16_t>> more_servers;
    std::vector<int> more_pids;
};

struct Percentiles {
    double p50 = 0, p99 = 0;
};

struct LoadReport {
    uint64_t chat_expected = 0, chat_received = 0;
    uint64_t video_expected = 0, video_received = 0;
    uint64_t voice_expected = 0, voice_received = 0;
    Percentiles chat_ms, video_ms, voice_ms;
    int logged_in = 0;
    int speakers = 0, speakers_granted = 0; // speakers whose grant had arrived when the run began
    // The server's CPU (share of one core) over the first and the last tenth of the run, and its resident
    // memory then (kB); zero without a server pid.
    double cpu_start = 0, cpu_end = 0;
    long rss_start_kb = 0, rss_end_kb = 0;
};

// Runs the load to its end and reports. Fails (error set, report empty) when the users cannot log in.
LoadReport run_load(const LoadConfig& config, std::string* error);

std::string format_report(const LoadConfig& config, const LoadReport& report);

} // namespace bots
