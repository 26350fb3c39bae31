/* The depth-camera SDK's C API as far as this system calls it. Points in millimetres, pixels with
 * their centres at integer coordinates. */
#ifndef K4A_H
#define K4A_H

#include <k4a/k4atypes.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Parses a raw calibration blob (JSON text; the size may or may not count a terminating NUL) for
 * the given depth mode and colour resolution. */
k4a_result_t k4a_calibration_get_from_raw(char* raw_calibration, size_t raw_calibration_size,
                                          const k4a_depth_mode_t depth_mode,
                                          const k4a_color_resolution_t color_resolution,
                                          k4a_calibration_t* calibration);

/* Pixel (column, row) at depth source_depth_mm to a 3D point in millimetres. *valid is 1 when
 * the pixel maps, 0 otherwise; the result fails only for unusable arguments. */
k4a_result_t k4a_calibration_2d_to_3d(const k4a_calibration_t* calibration,
                                      const k4a_float2_t* source_point2d, const float source_depth_mm,
                                      const k4a_calibration_type_t source_camera,
                                      const k4a_calibration_type_t target_camera,
                                      k4a_float3_t* target_point3d_mm, int* valid);

/* 3D point in millimetres to a pixel (column, row); *valid as above. */
k4a_result_t k4a_calibration_3d_to_2d(const k4a_calibration_t* calibration,
                                      const k4a_float3_t* source_point3d_mm,
                                      const k4a_calibration_type_t source_camera,
                                      const k4a_calibration_type_t target_camera,
                                      k4a_float2_t* target_point2d, int* valid);

#ifdef __cplusplus
}
#endif

#endif /* K4A_H */
