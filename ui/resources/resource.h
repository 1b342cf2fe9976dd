// Ids of the two dialog templates and their controls, shared by the resource script and the
// page procedures.
#pragma once

#define IDD_AUDIO_PAGE 107
#define IDD_VIDEO_PAGE 108

// Video page
#define IDC_MODE 1019
#define IDC_COMPLEXITY 1020
#define IDC_BITRATE 1021
#define IDC_BUFFER_SIZE 1022
#define IDC_PEAK_BITRATE 1023
#define IDC_PEAK_BUFFER 1024
#define IDC_QUALITY 1025
#define IDC_DECODER_LEVEL 1026
#define IDC_PERFORMANCE 1027
#define IDC_KEY_FRAME_INTERVAL 1028
#define IDC_ASPECT_WIDTH 1044
#define IDC_ASPECT_ENABLE 1046
#define IDC_ASPECT_HEIGHT 1047

// Audio page (its buffer edit is IDC_BUFFER_SIZE too; the pages are separate dialogs)
#define IDC_AUDIO_CODEC 1041
#define IDC_AUDIO_FORMAT 1042

// Both pages
#define IDC_LANGUAGE 1043
