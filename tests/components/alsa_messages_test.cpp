// ALSA's own messages: routed, the first one of the process becomes one line with its cause, and nothing of
// ALSA's reaches standard error, however many devices fail to open.
#include <gtest/gtest.h>

#include <alsa/asoundlib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "components/alsa_messages.h"

namespace {

std::vector<std::string> g_lines;

void keep_line(const char* text) {
    g_lines.push_back(text);
}

} // namespace

TEST(AlsaMessages, TheFirstBecomesOneLineAndNoneReachStandardError) {
    unsetenv("QUORIN_ALSA_MESSAGES");
    route_alsa_messages(&keep_line);
    testing::internal::CaptureStderr();
    for (const char* name : {"quorin_no_such_device", "quorin_no_such_device_either"})
        for (auto stream : {SND_PCM_STREAM_PLAYBACK, SND_PCM_STREAM_CAPTURE}) {
            snd_pcm_t* pcm = nullptr;
            EXPECT_LT(snd_pcm_open(&pcm, name, stream, SND_PCM_NONBLOCK), 0) << name;
        }
    const std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(written, "");
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_NE(g_lines[0].find("quorin_no_such_device"), std::string::npos) << g_lines[0];
    EXPECT_EQ(g_lines[0].find('\n'), std::string::npos) << "one line";
    EXPECT_GE(alsa_messages_seen(), 4u) << "every failed open said something";
}
