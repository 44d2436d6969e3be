// The shared object's own code is nothing: it is made of the engine and TIFF writer archives.
int StipplorLayeringProbe() {
    return 0;
}
