// A subscriber of ROS 2's /tf_static for the end-to-end tests that shares nothing with the
// program but Cyclone DDS and the message types of ROS 2's public definitions: it joins the
// domain as tf2's static listener does (reliable, transient-local, so that what was published
// before it started reaches it too) and prints every message as one JSON line:
// {"transforms": [{"parent": ..., "child": ..., "translation": [x, y, z], "rotation": [x, y, z, w]}]}
// It ends after MESSAGES messages (exit 0) or SECONDS seconds (exit 1).
#include "tf2_msgs.h"

#include <dds/dds.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kListenerHistory = 100; // tf2's static listener keeps as many

std::string jsonString(const char* text)
{
    std::string out = "\"";
    for (const char* c = text ? text : ""; *c; ++c) {
        if (*c == '"' || *c == '\\')
            out += '\\';
        out += *c;
    }
    return out + "\"";
}

void print(const tf2_msgs_msg_dds__TFMessage_& message)
{
    std::string line = "{\"transforms\": [";
    for (std::uint32_t i = 0; i < message.transforms._length; ++i) {
        const geometry_msgs_msg_dds__TransformStamped_& t = message.transforms._buffer[i];
        char numbers[512];
        std::snprintf(numbers, sizeof numbers, "\"translation\": [%.17g, %.17g, %.17g], \"rotation\": [%.17g, %.17g, %.17g, %.17g]",
                      t.transform.translation.x, t.transform.translation.y, t.transform.translation.z,
                      t.transform.rotation.x, t.transform.rotation.y, t.transform.rotation.z, t.transform.rotation.w);
        line += std::string(i ? ", " : "") + "{\"parent\": " + jsonString(t.header.frame_id)
            + ", \"child\": " + jsonString(t.child_frame_id) + ", " + numbers + "}";
    }
    std::printf("%s]}\n", line.c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: tavorin_tf_static_listener MESSAGES SECONDS\n");
        return 2;
    }
    const long wanted = std::strtol(argv[1], nullptr, 10);
    const dds_time_t deadline = dds_time() + static_cast<dds_time_t>(std::strtod(argv[2], nullptr) * 1e9);
    const char* domainText = std::getenv("ROS_DOMAIN_ID");
    const dds_entity_t participant =
        dds_create_participant(domainText ? static_cast<dds_domainid_t>(std::atoi(domainText)) : 0, nullptr, nullptr);
    const dds_entity_t topic =
        dds_create_topic(participant, &tf2_msgs_msg_dds__TFMessage__desc, "rt/tf_static", nullptr, nullptr);
    dds_qos_t* qos = dds_create_qos();
    dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_SECS(1));
    dds_qset_durability(qos, DDS_DURABILITY_TRANSIENT_LOCAL);
    dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, kListenerHistory);
    const dds_entity_t reader = dds_create_reader(participant, topic, qos, nullptr);
    dds_delete_qos(qos);
    if (reader < 0) {
        std::fprintf(stderr, "no reader: %s\n", dds_strretcode(reader));
        return 2;
    }
    long received = 0;
    while (received < wanted && dds_time() < deadline) {
        void* samples[1] = {nullptr};
        dds_sample_info_t infos[1];
        if (dds_take(reader, samples, infos, 1, 1) <= 0) {
            dds_sleepfor(DDS_MSECS(20));
            continue;
        }
        if (infos[0].valid_data) {
            print(*static_cast<const tf2_msgs_msg_dds__TFMessage_*>(samples[0]));
            ++received;
        }
        dds_return_loan(reader, samples, 1);
    }
    dds_delete(participant);
    return received < wanted ? 1 : 0;
}
