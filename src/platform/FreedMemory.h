#pragma once

// Gives memory that the program has freed back to the system. A check pass
// replaces every site's page and a save copies the whole list; the C
// library keeps what they freed for later use, so without this the
// program's resident size would stay at its peak of the last pass.
class FreedMemory
{
public:
    // Cheap enough to call after every pass and every load.
    static void ReturnToSystem();
};
