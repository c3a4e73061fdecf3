#pragma once
// Registers the network media "IP", "Telnet" and "TelCom" with the media factory.
void RegisterNetMedia();
