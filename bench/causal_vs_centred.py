import numpy as np, corvel
dt=0.001; t=np.arange(0,10,dt)
rng=np.random.default_rng(1)
clean=np.sin(2*np.pi*1.0*t)+0.3*np.sin(2*np.pi*3.7*t)
vel=2*np.pi*np.cos(2*np.pi*t)+0.3*2*np.pi*3.7*np.cos(2*np.pi*3.7*t)
u=clean+0.001*rng.standard_normal(len(t))
ch=corvel.tune(u,dt=dt,orders=range(1,6))
est=corvel.estimate(u,dt=dt,gain=ch.gain,order=ch.order)
d1=est.derivatives[:,0]
keep=slice(len(t)//3, len(t)-100)
rms=lambda e: np.sqrt(np.mean(e[keep]**2))
print("order gain",ch.order,ch.gain,"causal d1 rms err",rms(d1-vel), "rel", rms(d1-vel)/rms(vel))
# non-causal: Savitzky-Golay (local cubic least squares, centred window), best window
best=None
for half in range(5,200,5):
    k=np.arange(-half,half+1)
    A=np.vander(k*dt,4,increasing=True)
    coef=np.linalg.pinv(A)[1]   # derivative at centre
    d=np.convolve(u,coef[::-1],mode='same')
    e=rms(d-vel)
    if best is None or e<best[0]: best=(e,half)
print("savgol centred best", best, "rel", best[0]/rms(vel))
