#pragma once
// Makes the three audio components known to the stored-form reader.
void RegisterAudioClasses();
