// data_scanf: being written.
