"""devsim: simulated discovery devices answering Probe messages and raw discovery frames."""
