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

/* Devices. Our layer enumerates only the virtual devices that a test has plugged in
 * (k4a_virtual/VirtualDevice.h). */
uint32_t k4a_device_get_installed_count(void);
k4a_result_t k4a_device_open(uint32_t index, k4a_device_t* device_handle);
void k4a_device_close(k4a_device_t device_handle);
/* serial_number_size in: the buffer's size; out: the size needed, terminating NUL included. */
k4a_buffer_result_t k4a_device_get_serialnum(k4a_device_t device_handle, char* serial_number,
                                             size_t* serial_number_size);
k4a_result_t k4a_device_start_cameras(k4a_device_t device_handle, const k4a_device_configuration_t* config);
/* Whether a cable is plugged into the device's sync-in and sync-out jacks. */
k4a_result_t k4a_device_get_sync_jack(k4a_device_t device_handle, bool* sync_in_jack_connected,
                                      bool* sync_out_jack_connected);
/* May be called while another thread waits in k4a_device_get_capture, which then fails. */
void k4a_device_stop_cameras(k4a_device_t device_handle);
/* The device's raw calibration blob, NUL-terminated JSON text. data_size in: the buffer's size;
 * out: the size needed, terminating NUL included. A null data asks for the size only. */
k4a_buffer_result_t k4a_device_get_raw_calibration(k4a_device_t device_handle, uint8_t* data, size_t* data_size);
k4a_result_t k4a_device_get_calibration(k4a_device_t device_handle, const k4a_depth_mode_t depth_mode,
                                        const k4a_color_resolution_t color_resolution,
                                        k4a_calibration_t* calibration);
/* timeout_in_ms: K4A_WAIT_INFINITE waits without a time limit, until the next frame, an error or
 * an unplug; k4a_device_stop_cameras from another thread ends the wait with
 * K4A_WAIT_RESULT_FAILED. */
k4a_wait_result_t k4a_device_get_capture(k4a_device_t device_handle, k4a_capture_t* capture_handle,
                                         int32_t timeout_in_ms);

/* Captures and images. Every handle returned must be released once. */
k4a_image_t k4a_capture_get_color_image(k4a_capture_t capture_handle);
k4a_image_t k4a_capture_get_depth_image(k4a_capture_t capture_handle);
void k4a_capture_release(k4a_capture_t capture_handle);
k4a_result_t k4a_image_create(k4a_image_format_t format, int width_pixels, int height_pixels, int stride_bytes,
                              k4a_image_t* image_handle);
uint8_t* k4a_image_get_buffer(k4a_image_t image_handle);
size_t k4a_image_get_size(k4a_image_t image_handle);
k4a_image_format_t k4a_image_get_format(k4a_image_t image_handle);
int k4a_image_get_width_pixels(k4a_image_t image_handle);
int k4a_image_get_height_pixels(k4a_image_t image_handle);
int k4a_image_get_stride_bytes(k4a_image_t image_handle);
/* When the device exposed the image, on the device's own clock in microseconds (starting near 0
 * when the cameras start); 0 for images the caller created. */
uint64_t k4a_image_get_device_timestamp_usec(k4a_image_t image_handle);
/* When the host received the image, on the host's monotonic clock (CLOCK_MONOTONIC) in
 * nanoseconds; 0 for images the caller created. */
uint64_t k4a_image_get_system_timestamp_nsec(k4a_image_t image_handle);
void k4a_image_release(k4a_image_t image_handle);

/* Transformation between the depth and the colour camera of one calibration. */
k4a_transformation_t k4a_transformation_create(const k4a_calibration_t* calibration);
void k4a_transformation_destroy(k4a_transformation_t transformation_handle);
/* Resamples the BGRA32 colour image into the depth camera's pixel grid; pixels without depth or
 * outside the colour image become (0, 0, 0, 0). */
k4a_result_t k4a_transformation_color_image_to_depth_camera(k4a_transformation_t transformation_handle,
                                                            const k4a_image_t depth_image,
                                                            const k4a_image_t color_image,
                                                            k4a_image_t transformed_color_image);

#ifdef __cplusplus
}
#endif

#endif /* K4A_H */
