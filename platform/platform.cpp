// SDL window, input and audio: being written.
