#pragma once

// Run-time binding of the media libraries.
//
// Nothing in the project links against the media libraries: TFFLoader opens
// them with dlopen and stores every function the system calls in a slot of
// namespace lumivor::lib, named exactly like the exported function and typed
// from the library's own header. All other code calls lib::avcodec_open2(...)
// and so on, and must make sure the libraries it needs are loaded first
// (a component's LoadLibraries, or TFFLoader::CheckLoaded).
//
// Adding a function is one line: append it to its library's list below. A
// function listed as REQUIRED must be exported or the whole library fails to
// bind; an OPTIONAL one leaves a null slot, which callers test before calling.

#include <initializer_list>
#include <mutex>
#include <string>

#include "media/runtime/ff_headers.h"
#include "media/runtime/lock_manager.h"

// ---------------------------------------------------------------- slot lists

#define LUMIVOR_AVCODEC_FUNCTIONS(REQUIRED)  \
  REQUIRED(avcodec_find_decoder)             \
  REQUIRED(avcodec_find_decoder_by_name)     \
  REQUIRED(avcodec_find_encoder)             \
  REQUIRED(avcodec_find_encoder_by_name)     \
  REQUIRED(av_codec_iterate)                 \
  REQUIRED(av_codec_is_encoder)              \
  REQUIRED(av_codec_is_decoder)              \
  REQUIRED(avcodec_get_name)                 \
  REQUIRED(avcodec_get_type)                 \
  REQUIRED(avcodec_descriptor_get)           \
  REQUIRED(avcodec_descriptor_get_by_name)   \
  REQUIRED(avcodec_descriptor_next)          \
  REQUIRED(avcodec_profile_name)             \
  REQUIRED(av_get_profile_name)              \
  REQUIRED(avcodec_alloc_context3)           \
  REQUIRED(avcodec_free_context)             \
  REQUIRED(avcodec_get_class)                \
  REQUIRED(avcodec_open2)                    \
  REQUIRED(avcodec_close)                    \
  REQUIRED(avcodec_flush_buffers)            \
  REQUIRED(avcodec_string)                   \
  REQUIRED(avcodec_parameters_alloc)         \
  REQUIRED(avcodec_parameters_free)          \
  REQUIRED(avcodec_parameters_copy)          \
  REQUIRED(avcodec_parameters_to_context)    \
  REQUIRED(avcodec_parameters_from_context)  \
  REQUIRED(avcodec_send_packet)              \
  REQUIRED(avcodec_receive_frame)            \
  REQUIRED(avcodec_send_frame)               \
  REQUIRED(avcodec_receive_packet)           \
  REQUIRED(avcodec_decode_subtitle2)         \
  REQUIRED(avcodec_encode_subtitle)          \
  REQUIRED(avsubtitle_free)                  \
  REQUIRED(avcodec_fill_audio_frame)         \
  REQUIRED(avcodec_default_get_buffer2)      \
  REQUIRED(avcodec_align_dimensions)         \
  REQUIRED(avcodec_align_dimensions2)        \
  REQUIRED(avcodec_find_best_pix_fmt_of_list) \
  REQUIRED(av_packet_alloc)                  \
  REQUIRED(av_packet_clone)                  \
  REQUIRED(av_packet_free)                   \
  REQUIRED(av_packet_ref)                    \
  REQUIRED(av_packet_unref)                  \
  REQUIRED(av_packet_move_ref)               \
  REQUIRED(av_packet_make_writable)          \
  REQUIRED(av_packet_copy_props)             \
  REQUIRED(av_packet_rescale_ts)             \
  REQUIRED(av_packet_get_side_data)          \
  REQUIRED(av_packet_new_side_data)          \
  REQUIRED(av_new_packet)                    \
  REQUIRED(av_shrink_packet)                 \
  REQUIRED(av_grow_packet)                   \
  REQUIRED(av_parser_init)                   \
  REQUIRED(av_parser_parse2)                 \
  REQUIRED(av_parser_close)                  \
  REQUIRED(av_bsf_get_by_name)               \
  REQUIRED(av_bsf_alloc)                     \
  REQUIRED(av_bsf_init)                      \
  REQUIRED(av_bsf_send_packet)               \
  REQUIRED(av_bsf_receive_packet)            \
  REQUIRED(av_bsf_flush)                     \
  REQUIRED(av_bsf_free)                      \
  REQUIRED(av_get_audio_frame_duration)      \
  REQUIRED(av_get_audio_frame_duration2)     \
  REQUIRED(av_get_bits_per_sample)           \
  REQUIRED(av_get_exact_bits_per_sample)     \
  REQUIRED(av_fast_padded_malloc)            \
  REQUIRED(av_fast_padded_mallocz)

#define LUMIVOR_AVDEVICE_FUNCTIONS(REQUIRED) \
  REQUIRED(avdevice_register_all)            \
  REQUIRED(av_input_audio_device_next)       \
  REQUIRED(av_input_video_device_next)       \
  REQUIRED(av_output_audio_device_next)      \
  REQUIRED(av_output_video_device_next)

#define LUMIVOR_AVFILTER_FUNCTIONS(REQUIRED)      \
  REQUIRED(avfilter_graph_alloc)                  \
  REQUIRED(avfilter_graph_free)                   \
  REQUIRED(avfilter_graph_parse)                  \
  REQUIRED(avfilter_graph_parse2)                 \
  REQUIRED(avfilter_graph_parse_ptr)              \
  REQUIRED(avfilter_graph_create_filter)          \
  REQUIRED(avfilter_graph_alloc_filter)           \
  REQUIRED(avfilter_graph_get_filter)             \
  REQUIRED(avfilter_graph_config)                 \
  REQUIRED(avfilter_graph_request_oldest)         \
  REQUIRED(avfilter_graph_send_command)           \
  REQUIRED(avfilter_graph_queue_command)          \
  REQUIRED(avfilter_graph_set_auto_convert)       \
  REQUIRED(avfilter_graph_dump)                   \
  REQUIRED(avfilter_link)                         \
  REQUIRED(avfilter_init_str)                     \
  REQUIRED(avfilter_init_dict)                    \
  REQUIRED(avfilter_free)                         \
  REQUIRED(avfilter_process_command)              \
  REQUIRED(avfilter_inout_alloc)                  \
  REQUIRED(avfilter_inout_free)                   \
  REQUIRED(avfilter_get_by_name)                  \
  REQUIRED(av_filter_iterate)                     \
  REQUIRED(avfilter_get_class)                    \
  REQUIRED(avfilter_pad_get_name)                 \
  REQUIRED(avfilter_pad_get_type)                 \
  REQUIRED(avfilter_filter_pad_count)             \
  REQUIRED(av_buffersrc_add_frame)                \
  REQUIRED(av_buffersrc_add_frame_flags)          \
  REQUIRED(av_buffersrc_write_frame)              \
  REQUIRED(av_buffersrc_close)                    \
  REQUIRED(av_buffersrc_get_nb_failed_requests)   \
  REQUIRED(av_buffersrc_parameters_alloc)         \
  REQUIRED(av_buffersrc_parameters_set)           \
  REQUIRED(av_buffersink_get_frame)               \
  REQUIRED(av_buffersink_get_frame_flags)         \
  REQUIRED(av_buffersink_get_samples)             \
  REQUIRED(av_buffersink_set_frame_size)          \
  REQUIRED(av_buffersink_get_type)                \
  REQUIRED(av_buffersink_get_time_base)           \
  REQUIRED(av_buffersink_get_format)              \
  REQUIRED(av_buffersink_get_frame_rate)          \
  REQUIRED(av_buffersink_get_w)                   \
  REQUIRED(av_buffersink_get_h)                   \
  REQUIRED(av_buffersink_get_sample_aspect_ratio) \
  REQUIRED(av_buffersink_get_channels)            \
  REQUIRED(av_buffersink_get_ch_layout)           \
  REQUIRED(av_buffersink_get_sample_rate)         \
  REQUIRED(av_buffersink_get_hw_frames_ctx)

#define LUMIVOR_AVFORMAT_FUNCTIONS(REQUIRED)             \
  REQUIRED(av_demuxer_iterate)                           \
  REQUIRED(av_muxer_iterate)                             \
  REQUIRED(av_find_input_format)                         \
  REQUIRED(av_probe_input_format)                        \
  REQUIRED(av_guess_format)                              \
  REQUIRED(av_guess_codec)                               \
  REQUIRED(av_codec_get_id)                              \
  REQUIRED(av_codec_get_tag)                             \
  REQUIRED(av_codec_get_tag2)                            \
  REQUIRED(avformat_query_codec)                         \
  REQUIRED(avformat_get_class)                           \
  REQUIRED(avformat_alloc_context)                       \
  REQUIRED(avformat_free_context)                        \
  REQUIRED(avformat_open_input)                          \
  REQUIRED(avformat_find_stream_info)                    \
  REQUIRED(av_find_best_stream)                          \
  REQUIRED(av_read_frame)                                \
  REQUIRED(av_read_play)                                 \
  REQUIRED(av_read_pause)                                \
  REQUIRED(av_seek_frame)                                \
  REQUIRED(avformat_seek_file)                           \
  REQUIRED(avformat_flush)                               \
  REQUIRED(avformat_close_input)                         \
  REQUIRED(av_get_packet)                                \
  REQUIRED(av_append_packet)                             \
  REQUIRED(avformat_alloc_output_context2)               \
  REQUIRED(avformat_new_stream)                          \
  REQUIRED(av_new_program)                               \
  REQUIRED(av_program_add_stream_index)                  \
  REQUIRED(av_find_program_from_stream)                  \
  REQUIRED(avformat_init_output)                         \
  REQUIRED(avformat_write_header)                        \
  REQUIRED(av_write_frame)                               \
  REQUIRED(av_interleaved_write_frame)                   \
  REQUIRED(av_write_trailer)                             \
  REQUIRED(av_get_output_timestamp)                      \
  REQUIRED(av_sdp_create)                                \
  REQUIRED(av_dump_format)                               \
  REQUIRED(av_pkt_dump_log2)                             \
  REQUIRED(avformat_match_stream_specifier)              \
  REQUIRED(av_filename_number_test)                      \
  REQUIRED(av_get_frame_filename)                        \
  REQUIRED(av_url_split)                                 \
  REQUIRED(av_guess_frame_rate)                          \
  REQUIRED(av_guess_sample_aspect_ratio)                 \
  REQUIRED(av_stream_get_side_data)                      \
  REQUIRED(av_stream_new_side_data)                      \
  REQUIRED(av_stream_add_side_data)                      \
  REQUIRED(av_stream_get_codec_timebase)                 \
  REQUIRED(av_format_inject_global_side_data)            \
  REQUIRED(av_disposition_to_string)                     \
  REQUIRED(av_disposition_from_string)                   \
  REQUIRED(avformat_index_get_entries_count)             \
  REQUIRED(avio_alloc_context)                           \
  REQUIRED(avio_context_free)                            \
  REQUIRED(avio_open)                                    \
  REQUIRED(avio_open2)                                   \
  REQUIRED(avio_close)                                   \
  REQUIRED(avio_closep)                                  \
  REQUIRED(avio_check)                                   \
  REQUIRED(avio_read)                                    \
  REQUIRED(avio_read_partial)                            \
  REQUIRED(avio_write)                                   \
  REQUIRED(avio_w8)                                      \
  REQUIRED(avio_wl32)                                    \
  REQUIRED(avio_wb32)                                    \
  REQUIRED(avio_printf)                                  \
  REQUIRED(avio_flush)                                   \
  REQUIRED(avio_seek)                                    \
  REQUIRED(avio_skip)                                    \
  REQUIRED(avio_size)                                    \
  REQUIRED(avio_feof)                                    \
  REQUIRED(avio_open_dyn_buf)                            \
  REQUIRED(avio_get_dyn_buf)                             \
  REQUIRED(avio_close_dyn_buf)                           \
  REQUIRED(avio_find_protocol_name)                      \
  REQUIRED(avio_enum_protocols)                          \
  REQUIRED(avio_protocol_get_class)                      \
  REQUIRED(avformat_network_init)                        \
  REQUIRED(avformat_network_deinit)

#define LUMIVOR_AVUTIL_FUNCTIONS(REQUIRED)        \
  REQUIRED(av_log)                                \
  REQUIRED(av_vlog)                               \
  REQUIRED(av_log_set_callback)                   \
  REQUIRED(av_log_set_level)                      \
  REQUIRED(av_log_get_level)                      \
  REQUIRED(av_log_set_flags)                      \
  REQUIRED(av_log_get_flags)                      \
  REQUIRED(av_log_default_callback)               \
  REQUIRED(av_log_format_line)                    \
  REQUIRED(av_log_format_line2)                   \
  REQUIRED(av_default_item_name)                  \
  REQUIRED(av_default_get_category)               \
  REQUIRED(av_strerror)                           \
  REQUIRED(av_opt_find)                           \
  REQUIRED(av_opt_find2)                          \
  REQUIRED(av_opt_next)                           \
  REQUIRED(av_opt_child_next)                     \
  REQUIRED(av_opt_child_class_iterate)            \
  REQUIRED(av_opt_show2)                          \
  REQUIRED(av_opt_set)                            \
  REQUIRED(av_opt_set_int)                        \
  REQUIRED(av_opt_set_double)                     \
  REQUIRED(av_opt_set_q)                          \
  REQUIRED(av_opt_set_bin)                        \
  REQUIRED(av_opt_set_image_size)                 \
  REQUIRED(av_opt_set_pixel_fmt)                  \
  REQUIRED(av_opt_set_sample_fmt)                 \
  REQUIRED(av_opt_set_video_rate)                 \
  REQUIRED(av_opt_set_chlayout)                   \
  REQUIRED(av_opt_set_dict)                       \
  REQUIRED(av_opt_set_dict2)                      \
  REQUIRED(av_opt_set_defaults)                   \
  REQUIRED(av_opt_set_from_string)                \
  REQUIRED(av_opt_get)                            \
  REQUIRED(av_opt_get_int)                        \
  REQUIRED(av_opt_get_double)                     \
  REQUIRED(av_opt_get_q)                          \
  REQUIRED(av_opt_ptr)                            \
  REQUIRED(av_opt_free)                           \
  REQUIRED(av_opt_is_set_to_default_by_name)      \
  REQUIRED(av_dict_get)                           \
  REQUIRED(av_dict_set)                           \
  REQUIRED(av_dict_set_int)                       \
  REQUIRED(av_dict_copy)                          \
  REQUIRED(av_dict_count)                         \
  REQUIRED(av_dict_free)                          \
  REQUIRED(av_dict_parse_string)                  \
  REQUIRED(av_dict_get_string)                    \
  REQUIRED(av_malloc)                             \
  REQUIRED(av_mallocz)                            \
  REQUIRED(av_calloc)                             \
  REQUIRED(av_malloc_array)                       \
  REQUIRED(av_realloc)                            \
  REQUIRED(av_realloc_f)                          \
  REQUIRED(av_realloc_array)                      \
  REQUIRED(av_free)                               \
  REQUIRED(av_freep)                              \
  REQUIRED(av_max_alloc)                          \
  REQUIRED(av_strdup)                             \
  REQUIRED(av_strndup)                            \
  REQUIRED(av_memdup)                             \
  REQUIRED(av_fast_malloc)                        \
  REQUIRED(av_fast_mallocz)                       \
  REQUIRED(av_fast_realloc)                       \
  REQUIRED(av_strlcpy)                            \
  REQUIRED(av_strlcat)                            \
  REQUIRED(av_strlcatf)                           \
  REQUIRED(av_strstart)                           \
  REQUIRED(av_stristart)                          \
  REQUIRED(av_strcasecmp)                         \
  REQUIRED(av_strncasecmp)                        \
  REQUIRED(av_get_token)                          \
  REQUIRED(av_small_strptime)                     \
  REQUIRED(av_asprintf)                           \
  REQUIRED(av_bprint_init)                        \
  REQUIRED(av_bprintf)                            \
  REQUIRED(av_bprint_finalize)                    \
  REQUIRED(av_rescale)                            \
  REQUIRED(av_rescale_rnd)                        \
  REQUIRED(av_rescale_q)                          \
  REQUIRED(av_rescale_q_rnd)                      \
  REQUIRED(av_rescale_delta)                      \
  REQUIRED(av_compare_ts)                         \
  REQUIRED(av_compare_mod)                        \
  REQUIRED(av_reduce)                             \
  REQUIRED(av_gcd)                                \
  REQUIRED(av_mul_q)                              \
  REQUIRED(av_div_q)                              \
  REQUIRED(av_add_q)                              \
  REQUIRED(av_sub_q)                              \
  REQUIRED(av_d2q)                                \
  REQUIRED(av_nearer_q)                           \
  REQUIRED(av_find_nearest_q_idx)                 \
  REQUIRED(av_gettime)                            \
  REQUIRED(av_gettime_relative)                   \
  REQUIRED(av_usleep)                             \
  REQUIRED(av_parse_time)                         \
  REQUIRED(av_parse_ratio)                        \
  REQUIRED(av_parse_video_rate)                   \
  REQUIRED(av_parse_video_size)                   \
  REQUIRED(av_parse_color)                        \
  REQUIRED(av_parse_cpu_caps)                     \
  REQUIRED(av_expr_parse)                         \
  REQUIRED(av_expr_eval)                          \
  REQUIRED(av_expr_free)                          \
  REQUIRED(av_expr_parse_and_eval)                \
  REQUIRED(av_get_pix_fmt)                        \
  REQUIRED(av_get_pix_fmt_name)                   \
  REQUIRED(av_get_pix_fmt_string)                 \
  REQUIRED(av_pix_fmt_desc_get)                   \
  REQUIRED(av_pix_fmt_desc_next)                  \
  REQUIRED(av_pix_fmt_desc_get_id)                \
  REQUIRED(av_pix_fmt_get_chroma_sub_sample)      \
  REQUIRED(av_get_bits_per_pixel)                 \
  REQUIRED(av_get_padded_bits_per_pixel)          \
  REQUIRED(av_find_best_pix_fmt_of_2)             \
  REQUIRED(av_get_sample_fmt)                     \
  REQUIRED(av_get_sample_fmt_name)                \
  REQUIRED(av_get_sample_fmt_string)              \
  REQUIRED(av_get_packed_sample_fmt)              \
  REQUIRED(av_get_planar_sample_fmt)              \
  REQUIRED(av_sample_fmt_is_planar)               \
  REQUIRED(av_get_bytes_per_sample)               \
  REQUIRED(av_samples_get_buffer_size)            \
  REQUIRED(av_samples_alloc)                      \
  REQUIRED(av_samples_copy)                       \
  REQUIRED(av_samples_set_silence)                \
  REQUIRED(av_samples_fill_arrays)                \
  REQUIRED(av_channel_layout_default)             \
  REQUIRED(av_channel_layout_describe)            \
  REQUIRED(av_channel_layout_copy)                \
  REQUIRED(av_channel_layout_uninit)              \
  REQUIRED(av_channel_layout_from_mask)           \
  REQUIRED(av_channel_layout_from_string)         \
  REQUIRED(av_channel_layout_compare)             \
  REQUIRED(av_channel_layout_check)               \
  REQUIRED(av_channel_layout_channel_from_index)  \
  REQUIRED(av_channel_name)                       \
  REQUIRED(av_get_media_type_string)              \
  REQUIRED(av_get_picture_type_char)              \
  REQUIRED(av_image_alloc)                        \
  REQUIRED(av_image_fill_arrays)                  \
  REQUIRED(av_image_fill_linesizes)               \
  REQUIRED(av_image_get_buffer_size)              \
  REQUIRED(av_image_get_linesize)                 \
  REQUIRED(av_image_copy)                         \
  REQUIRED(av_image_copy_plane)                   \
  REQUIRED(av_image_copy_to_buffer)               \
  REQUIRED(av_image_check_size)                   \
  REQUIRED(av_image_check_sar)                    \
  REQUIRED(av_frame_alloc)                        \
  REQUIRED(av_frame_free)                         \
  REQUIRED(av_frame_ref)                          \
  REQUIRED(av_frame_unref)                        \
  REQUIRED(av_frame_move_ref)                     \
  REQUIRED(av_frame_clone)                        \
  REQUIRED(av_frame_get_buffer)                   \
  REQUIRED(av_frame_is_writable)                  \
  REQUIRED(av_frame_make_writable)                \
  REQUIRED(av_frame_copy)                         \
  REQUIRED(av_frame_copy_props)                   \
  REQUIRED(av_frame_get_side_data)                \
  REQUIRED(av_frame_new_side_data)                \
  REQUIRED(av_buffer_alloc)                       \
  REQUIRED(av_buffer_allocz)                      \
  REQUIRED(av_buffer_create)                      \
  REQUIRED(av_buffer_ref)                         \
  REQUIRED(av_buffer_unref)                       \
  REQUIRED(av_buffer_is_writable)                 \
  REQUIRED(av_buffer_get_opaque)                  \
  REQUIRED(av_buffer_get_ref_count)               \
  REQUIRED(av_buffer_default_free)                \
  REQUIRED(av_buffer_pool_init)                   \
  REQUIRED(av_buffer_pool_init2)                  \
  REQUIRED(av_buffer_pool_uninit)                 \
  REQUIRED(av_buffer_pool_get)                    \
  REQUIRED(av_fifo_alloc2)                        \
  REQUIRED(av_fifo_freep2)                        \
  REQUIRED(av_fifo_can_read)                      \
  REQUIRED(av_fifo_can_write)                     \
  REQUIRED(av_fifo_grow2)                         \
  REQUIRED(av_fifo_read)                          \
  REQUIRED(av_fifo_write)                         \
  REQUIRED(av_fifo_peek)                          \
  REQUIRED(av_fifo_drain2)                        \
  REQUIRED(av_fifo_reset2)                        \
  REQUIRED(av_audio_fifo_alloc)                   \
  REQUIRED(av_audio_fifo_free)                    \
  REQUIRED(av_audio_fifo_write)                   \
  REQUIRED(av_audio_fifo_read)                    \
  REQUIRED(av_audio_fifo_size)                    \
  REQUIRED(av_display_rotation_get)               \
  REQUIRED(av_get_cpu_flags)                      \
  REQUIRED(av_force_cpu_flags)                    \
  REQUIRED(av_cpu_count)

#define LUMIVOR_SWRESAMPLE_FUNCTIONS(REQUIRED) \
  REQUIRED(swr_alloc)                          \
  REQUIRED(swr_alloc_set_opts2)                \
  REQUIRED(swr_init)                           \
  REQUIRED(swr_is_initialized)                 \
  REQUIRED(swr_close)                          \
  REQUIRED(swr_free)                           \
  REQUIRED(swr_get_class)                      \
  REQUIRED(swr_convert)                        \
  REQUIRED(swr_convert_frame)                  \
  REQUIRED(swr_config_frame)                   \
  REQUIRED(swr_set_channel_mapping)            \
  REQUIRED(swr_set_compensation)               \
  REQUIRED(swr_set_matrix)                     \
  REQUIRED(swr_get_delay)                      \
  REQUIRED(swr_get_out_samples)                \
  REQUIRED(swr_next_pts)                       \
  REQUIRED(swr_inject_silence)                 \
  REQUIRED(swr_drop_output)

#define LUMIVOR_SWSCALE_FUNCTIONS(REQUIRED) \
  REQUIRED(sws_alloc_context)               \
  REQUIRED(sws_init_context)                \
  REQUIRED(sws_getContext)                  \
  REQUIRED(sws_getCachedContext)            \
  REQUIRED(sws_scale)                       \
  REQUIRED(sws_scale_frame)                 \
  REQUIRED(sws_freeContext)                 \
  REQUIRED(sws_get_class)                   \
  REQUIRED(sws_isSupportedInput)            \
  REQUIRED(sws_isSupportedOutput)           \
  REQUIRED(sws_setColorspaceDetails)        \
  REQUIRED(sws_getCoefficients)

// The C runtime row only has to be present: the project links against the C
// library normally, so formatting and FILE streams need no slots.
#define LUMIVOR_LIBC_FUNCTIONS(REQUIRED)

namespace lumivor {

namespace lib {

#define LUMIVOR_DECLARE_SLOT(name) extern decltype(&::name) name;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
LUMIVOR_AVCODEC_FUNCTIONS(LUMIVOR_DECLARE_SLOT)
LUMIVOR_AVDEVICE_FUNCTIONS(LUMIVOR_DECLARE_SLOT)
LUMIVOR_AVFILTER_FUNCTIONS(LUMIVOR_DECLARE_SLOT)
LUMIVOR_AVFORMAT_FUNCTIONS(LUMIVOR_DECLARE_SLOT)
LUMIVOR_AVUTIL_FUNCTIONS(LUMIVOR_DECLARE_SLOT)
LUMIVOR_SWRESAMPLE_FUNCTIONS(LUMIVOR_DECLARE_SLOT)
LUMIVOR_SWSCALE_FUNCTIONS(LUMIVOR_DECLARE_SLOT)
LUMIVOR_LIBC_FUNCTIONS(LUMIVOR_DECLARE_SLOT)
#pragma GCC diagnostic pop
#undef LUMIVOR_DECLARE_SLOT

// Optional: gone from this library generation (the libraries lock
// internally), so the slot stays null and the lock manager is not installed.
extern int (*av_lockmgr_register)(LockManagerFunction callback);

}  // namespace lib

// ------------------------------------------------------------ library table

// Row indices of the library table. The index order is the order of texts,
// CheckLoaded and unloading; loading follows the dependency order instead.
enum LibraryIndex : int {
  lbAVCodec = 0,
  lbAVDevice = 1,
  lbAVFilter = 2,
  lbAVFormat = 3,
  lbAVUtil = 4,
  lbSWResample = 5,
  lbSWScale = 6,
  lbLibC = 7,
};
inline constexpr int LibraryCount = 8;

// A set of libraries, one bit per row index.
class LibrarySet {
 public:
  constexpr LibrarySet() = default;
  constexpr LibrarySet(std::initializer_list<LibraryIndex> libraries) {
    for (LibraryIndex library : libraries) bits_ |= Bit(library);
  }
  constexpr bool Contains(LibraryIndex library) const { return (bits_ & Bit(library)) != 0; }
  constexpr void Add(LibraryIndex library) { bits_ |= Bit(library); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr unsigned Bits() const { return bits_; }
  constexpr bool operator==(const LibrarySet&) const = default;

 private:
  static constexpr unsigned Bit(LibraryIndex library) { return 1u << static_cast<int>(library); }
  unsigned bits_ = 0;
};

inline constexpr LibrarySet AllLibraries = {lbAVCodec,  lbAVDevice,   lbAVFilter, lbAVFormat,
                                             lbAVUtil,   lbSWResample, lbSWScale,  lbLibC};
// The encoder component and the transcoding engine.
inline constexpr LibrarySet EncoderLibraries = AllLibraries;
inline constexpr LibrarySet PlayerLibraries = AllLibraries;
// The decoder needs neither devices nor filters.
inline constexpr LibrarySet DecoderLibraries = {lbAVCodec,    lbAVFormat, lbAVUtil,
                                                 lbSWResample, lbSWScale,  lbLibC};

struct TLibraryItem {
  LibraryIndex Library;
  const char* Name;
  bool NoFolder;  // always through the system search, never from LibraryPath
  int Version;    // major version in the file name; -1 = none
};

// The process-wide loader. Its operations are meant for the main thread; they
// are serialised anyway so that a stray call from elsewhere cannot corrupt
// the table.
class TFFLoader {
 public:
  static TFFLoader& Instance();

  static const TLibraryItem& Item(LibraryIndex library);
  // "lib" + Name + ".so." + Version, or without the ".<version>" for -1.
  static std::string LibraryFileName(LibraryIndex library);
  // The "LibAV" folder beside the running executable.
  static std::string DefaultLibraryPath();

  // Starts as DefaultLibraryPath(): a library present there is loaded by full
  // path, any other through the system search. Empty means the system search
  // for every library.
  void SetLibraryPath(const std::string& folder);
  std::string LibraryPath() const;
  std::string LastError() const;

  bool LoadLibraryItem(LibraryIndex library);
  void UnloadLibraryItem(LibraryIndex library);
  // Loads in dependency order. On the first failure the libraries this call
  // loaded are unloaded again; those that were loaded before stay loaded.
  bool Load(LibrarySet libraries);
  bool IsLoaded(LibraryIndex library) const;
  bool AllLoaded(LibrarySet libraries) const;
  // Throws ELibraryNotLoaded "Library %s not loaded." for the first library
  // of the set, in index order, that is not loaded.
  void CheckLoaded(LibrarySet libraries) const;
  void Unload(LibrarySet libraries);

  // How many times each library has been bound since process start (loading
  // a bound library again is a no-op and does not count).
  int BindCount(LibraryIndex library) const;

  TFFLoader(const TFFLoader&) = delete;
  TFFLoader& operator=(const TFFLoader&) = delete;

 private:
  TFFLoader();
  ~TFFLoader();

  struct Status {
    void* Handle = nullptr;
    bool Bound = false;
    int BindCount = 0;
  };
  bool LoadLocked(LibraryIndex library);
  void UnloadLocked(LibraryIndex library);

  mutable std::recursive_mutex mutex_;
  Status status_[LibraryCount];
  std::string libraryPath_;
  std::string lastError_;
};

}  // namespace lumivor
