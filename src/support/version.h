// Shared by the resource script and the code, so the title has one home.
#pragma once

#define VELMORA_PRODUCT_NAME "Velmora Skytrove v4"
#define VELMORA_DESCRIPTION "Downloads and stores web pages"
#define VELMORA_VERSION_TEXT "4.00.0018"
#define VELMORA_VERSION_BINARY 4, 0, 0, 18
#define VELMORA_EXE_NAME "VelmoraSkytrove4.exe"
