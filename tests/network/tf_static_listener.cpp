// The e2e tests' subscriber of ROS 2's /tf_static, sharing nothing with the program but Cyclone DDS
// and the message types of ROS 2's public definitions. It joins as tf2's static listener does
// (reliable, transient-local: what was published before it started reaches it too) and prints each
// message as one JSON line, {"transforms": [{"parent", "child", "translation", "rotation"}, ...]},
// until MESSAGES messages (exit 0) or SECONDS seconds (exit 1).
#include "tf2_msgs.h"

#include <dds/dds.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const long wanted = std::atol(argv[1]);
    const dds_time_t deadline = dds_time() + DDS_SECS(std::atol(argv[2]));
    const char* domain = std::getenv("ROS_DOMAIN_ID");
    const dds_entity_t participant = dds_create_participant(domain ? std::atoi(domain) : 0, nullptr, nullptr);
    const dds_entity_t topic =
        dds_create_topic(participant, &tf2_msgs_msg_dds__TFMessage__desc, "rt/tf_static", nullptr, nullptr);
    dds_qos_t* qos = dds_create_qos();
    dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_SECS(1));
    dds_qset_durability(qos, DDS_DURABILITY_TRANSIENT_LOCAL);
    dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, 100); // as tf2's static listener keeps
    const dds_entity_t reader = dds_create_reader(participant, topic, qos, nullptr);
    dds_delete_qos(qos);
    long received = 0;
    while (reader > 0 && received < wanted && dds_time() < deadline) {
        void* samples[1] = {nullptr};
        dds_sample_info_t infos[1];
        if (dds_take(reader, samples, infos, 1, 1) <= 0) {
            dds_sleepfor(DDS_MSECS(20));
            continue;
        }
        const auto* message = static_cast<const tf2_msgs_msg_dds__TFMessage_*>(samples[0]);
        for (std::uint32_t i = 0; infos[0].valid_data && i < message->transforms._length; ++i) {
            const geometry_msgs_msg_dds__TransformStamped_& t = message->transforms._buffer[i];
            const auto& [x, y, z] = t.transform.translation;
            const auto& q = t.transform.rotation;
            std::printf("%s{\"parent\": \"%s\", \"child\": \"%s\", \"translation\": [%.17g, %.17g, %.17g], "
                        "\"rotation\": [%.17g, %.17g, %.17g, %.17g]}",
                        i ? ", " : "{\"transforms\": [", t.header.frame_id, t.child_frame_id, x, y, z, q.x, q.y, q.z, q.w);
        }
        if (infos[0].valid_data) {
            std::printf(message->transforms._length ? "]}\n" : "{\"transforms\": []}\n");
            std::fflush(stdout);
            ++received;
        }
        dds_return_loan(reader, samples, 1);
    }
    dds_delete(participant);
    return received < wanted ? 1 : 0;
}
