#pragma once

// The QoS of the network cameras' topics, for the .cpp files of this library only (they include
// the DDS headers).

#include <dds/dds.h>

namespace tavorin {

// Reliable, volatile, keep-last `depth`, XCDR1: what the Azure Kinect ROS 2 driver offers, and
// what a ROS 2 reader of it asks for. The caller deletes the QoS.
inline dds_qos_t* sensorQos(int depth)
{
    dds_qos_t* qos = dds_create_qos();
    dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_MSECS(100));
    dds_qset_durability(qos, DDS_DURABILITY_VOLATILE);
    dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, depth);
    const dds_data_representation_id_t xcdr1 = DDS_DATA_REPRESENTATION_XCDR1;
    dds_qset_data_representation(qos, 1, &xcdr1);
    return qos;
}

// tf2's static broadcaster: reliable, transient-local, keep-last 1 per writer.
inline dds_qos_t* tfStaticQos()
{
    dds_qos_t* qos = sensorQos(1);
    dds_qset_durability(qos, DDS_DURABILITY_TRANSIENT_LOCAL);
    return qos;
}

} // namespace tavorin
