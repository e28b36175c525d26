%CORVEL  Differentiator block: a sampled signal and its first n derivatives.
%   corvel is a MEX S-function. In a model, add an S-function block, set its
%   function name to corvel and its parameters to, for instance,
%
%       20, -1, 3
%
%   Parameters (each a real double scalar; P1 and P3 may change during a run)
%     P1  gain L         larger follows faster and passes more noise. The block
%                        takes any double; 0 never corrects its prediction, a
%                        negative gain diverges.
%     P2  sample time h  -1 inherits the model's step, else a number > 0. The
%                        block needs a discrete sample time.
%     P3  order n        a whole number from 1 to 10: how many derivatives.
%
%   Ports
%     in 1   width 1  u, the sampled signal. Direct feedthrough: a loop from an
%                     output back into u without a delay is an algebraic loop.
%     out 1  width 1  the error u - z0 of the previous sample (0 at the start)
%     out 2  width 1  z0, the estimate of u, predicted from the samples before
%     out 3  width n  z1..zn, the estimates of the first n derivatives; its
%                     width is fixed when the model starts
%
%   The estimates start at z0 = u and zero derivatives and converge within the
%   first few hundred samples, faster for a larger gain. A NaN or infinite
%   input makes every estimate NaN until the model starts again. Blocks of
%   different sample times may share a model.
%
%   At the command line,
%
%       s = corvel([], [], [], 0, 20, -1, 3)
%
%   returns the block's sizes vector, a 40 x 1 column (38 x 1 from the 32-bit
%   Windows file). The elements it sets, counted from 1:
%     s(1)   continuous states                 0
%     s(2)   discrete states                   11
%     s(3)   output ports                      3
%     s(4)   input ports                       1
%     s(5)   the host's call index             0 here
%     s(7)   sample times                      1
%     s(8)   parameters the block takes        3
%     s(9:11)   real, integer, pointer work    0
%     s(16:19)  the host's own words           0 here
%     s(20)  version word                      8480229 (5200229 32-bit)
%     s(21)  nonsampled zero crossings         0
%     s(23)  modes                             0
%     s(24)  options word                      537403394 (0x20082002)
%     s(32)  flags: 2 once the port counts were set
%   every other element 0. A parameter the block rejects is not reported here:
%   corvel([], [], [], 0, 20, 0, 3) returns the vector as far as the check got
%   (s(8) = 3, s(20) = 8480229, s(24) = 8192, the rest 0) without a message.
%   The host's start of a simulation shows the block's message, for instance
%   "Order of the differantiator must be a positive integer."
%
%   This file holds only this help; the block is the MEX file beside it.
